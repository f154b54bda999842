// SPDX-License-Identifier: GPL-3.0-or-later
#include "mainwindow/keyboard.h"

#include "mainwindow/findbar.h"
#include "ui_mainwindow.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QTabBar>

Keyboard::Keyboard(QMainWindow *window, Ui::MainWindow *ui, QWidget *outputTab, FindBar *findBar)
    : QObject(window)
    , ui(ui)
    , m_output_tab(outputTab)
    , m_find_bar(findBar)
{
    const auto bind = [](QToolButton *button, const QKeySequence &key, const QString &what) {
        button->setShortcut(key);
        button->setToolTip(
                QStringLiteral("%1 (%2)").arg(what, key.toString(QKeySequence::NativeText)));
    };
    // Not every desktop names a key for each of these: then the usual one.
    const auto standard = [](QKeySequence::StandardKey key, QKeyCombination usual) {
        const QKeySequence named(key);
        return named.isEmpty() ? QKeySequence(usual) : named;
    };
    bind(ui->toolButtonChoose, standard(QKeySequence::Open, Qt::CTRL | Qt::Key_O),
         tr("Choose an input deck or a portal job file"));
    bind(ui->toolButtonSettings, standard(QKeySequence::Preferences, Qt::CTRL | Qt::Key_Comma),
         tr("Set the package directory and the parallel runs"));
    bind(ui->toolButtonClose, standard(QKeySequence::Quit, Qt::CTRL | Qt::Key_Q),
         tr("Close the launcher"));
    // Tool buttons take the focus by Tab and click on Enter, as push buttons do.
    for (QToolButton *button : window->findChildren<QToolButton *>()) {
        button->setFocusPolicy(Qt::StrongFocus);
        button->installEventFilter(this);
    }
    const auto shortcut = [this, window](const QList<QKeySequence> &keys, auto slot) {
        auto *action = new QAction(window);
        action->setShortcuts(keys);
        connect(action, &QAction::triggered, this, slot);
        window->addAction(action);
    };
    // Start's own shortcut would go with each change of its text (Start, Stop).
    const QKeySequence start(Qt::Key_F5);
    ui->toolButtonStart->setToolTip(
            tr("Start the job, or stop it (%1)").arg(start.toString(QKeySequence::NativeText)));
    shortcut({ start }, [ui] {
        if (ui->toolButtonStart->isEnabled())
            ui->toolButtonStart->animateClick();
    });
    shortcut(QKeySequence::keyBindings(QKeySequence::Find), [ui, outputTab, findBar] {
        if (ui->tabWidget->indexOf(outputTab) < 0)
            return;
        ui->tabWidget->setCurrentWidget(outputTab);
        findBar->open();
    });
    shortcut(QKeySequence::keyBindings(QKeySequence::ZoomIn), [this] { zoomPanes(1); });
    shortcut(QKeySequence::keyBindings(QKeySequence::ZoomOut), [this] { zoomPanes(-1); });
}

bool Keyboard::focusNext(bool next)
{
    QList<QWidget *> order{
        ui->lineEditInputFile, ui->toolButtonChoose, ui->lineEditTitle,
        ui->lineEditWorkDir,   ui->comboBoxProgram,  ui->comboBoxRunOn,
        ui->spinBoxProcs,      ui->toolButtonStart,  ui->tabWidget->findChild<QTabBar *>()
    };
    QWidget *page = ui->tabWidget->currentWidget();
    if (page == m_output_tab) {
        order.append(ui->outputView);
        order += m_find_bar->findChildren<QWidget *>();
    } else if (page == ui->tabJobs) {
        order += { ui->lineEditJobsFilter, ui->tableViewJobs };
    } else {
        order += { ui->plainTextEditInput, ui->toolButtonOpenInEditor };
    }
    order += { ui->toolButtonOpenWorkdir, ui->toolButtonUpload, ui->toolButtonSettings,
               ui->toolButtonClose };
    // The control that has the focus, or holds it (as a spin box holds its line edit).
    const QWidget *focus = QApplication::focusWidget();
    const qsizetype at = std::find_if(order.cbegin(), order.cend(),
                                      [focus](const QWidget *widget) {
                                          return widget == focus || widget->isAncestorOf(focus);
                                      })
            - order.cbegin();
    if (!focus || at == order.size())
        return false;
    const qsizetype count = order.size();
    for (qsizetype step = 1; step < count; ++step) {
        QWidget *widget = order.at(((next ? at + step : at - step) % count + count) % count);
        if (widget->isVisible() && widget->isEnabled() && (widget->focusPolicy() & Qt::TabFocus)) {
            widget->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
            return true;
        }
    }
    return false;
}

void Keyboard::zoomPanes(int steps)
{
    ui->plainTextEditInput->zoomIn(steps);
    ui->outputView->zoomIn(steps);
}

bool Keyboard::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        auto *button = qobject_cast<QToolButton *>(watched);
        if (button && (key == Qt::Key_Return || key == Qt::Key_Enter)) {
            button->click();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}
