// SPDX-License-Identifier: GPL-3.0-or-later
#include "windowsupport.h"

#include "settings/settingskeys.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMainWindow>
#include <QMessageBox>
#include <QProgressDialog>

QSettings launcherSettings()
{
    return QSettings(SettingsKeys::Organization, SettingsKeys::Application);
}

ModalAnswerer::ModalAnswerer()
{
    connect(&m_timer, &QTimer::timeout, this, &ModalAnswerer::poll);
    m_timer.start(10);
}

void ModalAnswerer::answer(const QString &button)
{
    act([this, button](QWidget *widget) { click(widget, button); });
}

void ModalAnswerer::click(QWidget *widget, const QString &button)
{
    for (QAbstractButton *candidate : widget->findChildren<QAbstractButton *>()) {
        if (candidate->text().remove(QLatin1Char('&')) == button)
            return candidate->click();
    }
    ++unexpected;
}

void ModalAnswerer::poll()
{
    QWidget *widget = QApplication::activeModalWidget();
    // The main window is itself application-modal, and a progress dialog asks nothing: only
    // what opens over them is answered.
    if (!widget || qobject_cast<QMainWindow *>(widget) || qobject_cast<QProgressDialog *>(widget))
        return;
    if (widget == m_current) {
        // Two seconds open after its answer: close it rather than hang.
        if (++m_polls == 200) {
            ++unexpected;
            widget->close();
        }
        return;
    }
    m_current = widget;
    m_polls = 0;
    if (auto *box = qobject_cast<QMessageBox *>(widget))
        shown.append(box->text());
    // Run from the event loop, so that a dialog the action opens is answered in turn.
    const Action action = m_actions.isEmpty() ? Action() : m_actions.dequeue();
    QTimer::singleShot(0, widget, [this, action, widget] {
        if (action)
            return action(widget);
        ++unexpected;
        widget->close();
    });
}
