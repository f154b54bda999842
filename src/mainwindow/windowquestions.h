// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef WINDOWQUESTIONS_H
#define WINDOWQUESTIONS_H

#include "launcher/launcher.h"

#include <QObject>
#include <QPointer>

class QMessageBox;
class QWidget;

// The launcher's questions, asked in message boxes over the window.
class WindowQuestions : public QObject, public LauncherQuestions
{
    Q_OBJECT

public:
    // Asks the launcher's questions until it goes.
    WindowQuestions(QWidget *window, Launcher *launcher);
    ~WindowQuestions() override;

    StopAnswer askStop(bool closing) override;
    bool askBatch(const QString &question) override;
    // Asked when the folder holds results that were not uploaded, with Keep folder, which
    // moves it to a place the user picks, Discard and Cancel.
    bool releaseFolder() override;
    // The open question about stopping goes unanswered: its job has ended.
    void dismiss();

private:
    bool keep();

    QWidget *m_window;
    QPointer<Launcher> m_launcher;
    QPointer<QMessageBox> m_question;
};

#endif
