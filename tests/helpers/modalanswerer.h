// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef MODALANSWERER_H
#define MODALANSWERER_H

#include <QMessageBox>
#include <QPointer>
#include <QQueue>
#include <QTimer>

#include <functional>

// Answers the modal boxes and dialogs that open over the window, in the order the answers were
// queued, and keeps what every message box showed. A modal widget without an answer, or one
// that an answer left open, is closed and counted, so a test never hangs.
class ModalAnswerer : public QObject
{
public:
    struct Shown
    {
        QMessageBox::Icon icon;
        QString text;
        QMessageBox::StandardButtons buttons;
    };
    using Action = std::function<void(QWidget *)>;

    ModalAnswerer();
    void act(Action action) { m_actions.enqueue(std::move(action)); }
    void answer(QMessageBox::StandardButton button);
    // Picks a file, or a folder in a folder chooser, as a user typing its name would.
    void chooseFile(const QString &path);
    int pending() const { return int(m_actions.size()); }

    QList<Shown> shown;
    int unexpected = 0;

private:
    void poll();

    QTimer m_timer;
    QQueue<Action> m_actions;
    QPointer<QWidget> m_current;
    int m_polls = 0;
};

#endif
