// SPDX-License-Identifier: GPL-3.0-or-later
#include "mainwindow/windowquestions.h"

#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>

WindowQuestions::WindowQuestions(QWidget *window, Launcher *launcher)
    : QObject(window)
    , m_window(window)
    , m_launcher(launcher)
{
    launcher->setQuestions(this);
    connect(launcher, &Launcher::currentEnded, this, &WindowQuestions::dismiss);
}

WindowQuestions::~WindowQuestions()
{
    // A window's own launcher went before it.
    if (m_launcher)
        m_launcher->setQuestions(nullptr);
}

LauncherQuestions::StopAnswer WindowQuestions::askStop(bool closing)
{
    QMessageBox question(QMessageBox::Warning, m_window->windowTitle(),
                         tr("Do you really want to stop the running job?"),
                         QMessageBox::Yes | QMessageBox::Cancel, m_window);
    // Closing may also leave the jobs to themselves: the next launcher watches them.
    QPushButton *leave
            = closing ? question.addButton(tr("Leave running"), QMessageBox::AcceptRole) : nullptr;
    m_question = &question;
    question.exec();
    // A question that a job's end took away was never answered.
    if (question.clickedButton() == question.button(QMessageBox::Yes))
        return StopAnswer::Stop;
    return leave && question.clickedButton() == leave ? StopAnswer::Leave : StopAnswer::Stay;
}

void WindowQuestions::dismiss()
{
    if (m_question)
        m_question->reject();
}

bool WindowQuestions::askBatch(const QString &question)
{
    return QMessageBox::question(m_window, m_window->windowTitle(), question,
                                 QMessageBox::Yes | QMessageBox::Cancel)
            == QMessageBox::Yes;
}

bool WindowQuestions::releaseFolder()
{
    QMessageBox question(
            QMessageBox::Warning, m_window->windowTitle(),
            QStringLiteral("The job folder %1 holds results that have not been uploaded.")
                    .arg(m_launcher->loaded().workDir()),
            QMessageBox::Discard | QMessageBox::Cancel, m_window);
    QPushButton *keepButton = question.addButton(tr("Keep folder"), QMessageBox::AcceptRole);
    question.setDefaultButton(keepButton);
    question.exec();
    if (question.clickedButton() == keepButton)
        return keep();
    return question.clickedButton() == question.button(QMessageBox::Discard);
}

bool WindowQuestions::keep()
{
    // The system empties its temporary folder: the results go somewhere lasting.
    const QString path = m_launcher->loaded().workDir();
    const QString kept = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)
            + QStringLiteral("/MOLTRA jobs/");
    QDir().mkpath(kept);
    const QString target = QFileDialog::getSaveFileName(
            m_window, tr("Keep the job folder as"), kept + m_launcher->loaded().keptName(),
            QString(), nullptr, QFileDialog::DontConfirmOverwrite);
    if (target.isEmpty())
        return false;
    QString error;
    if (!m_launcher->keepFolder(target, &error)) {
        QMessageBox::critical(
                m_window, m_window->windowTitle(),
                tr("The job folder could not be moved: %1.\nIt stays at %2.").arg(error, path));
        return false;
    }
    QMessageBox::information(m_window, m_window->windowTitle(),
                             QStringLiteral("The job folder is kept: %1").arg(target));
    return true;
}
