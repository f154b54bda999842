// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef WINDOWSUPPORT_H
#define WINDOWSUPPORT_H

#include "testsupport.h"

#include <QPointer>
#include <QQueue>
#include <QSettings>
#include <QTimer>
#include <QWidget>

#include <functional>

// The launcher's own settings store, as the test's environment places it.
QSettings launcherSettings();

// Answers the modal boxes and dialogs that open over the window, in the order the answers were
// queued, and keeps the text of every message box. A modal widget without an answer, or one
// that an answer left open, is closed and counted, so a test never hangs.
class ModalAnswerer : public QObject
{
public:
    using Action = std::function<void(QWidget *)>;

    ModalAnswerer();
    void act(Action action) { m_actions.enqueue(std::move(action)); }
    // Clicks the button of this text, as "OK" or "Keep folder".
    void answer(const QString &button);
    void click(QWidget *widget, const QString &button);
    int pending() const { return int(m_actions.size()); }

    QStringList shown;
    int unexpected = 0;

private:
    void poll();

    QTimer m_timer;
    QQueue<Action> m_actions;
    QPointer<QWidget> m_current;
    int m_polls = 0;
};

#endif
