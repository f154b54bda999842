// SPDX-License-Identifier: GPL-3.0-or-later
#include "mainwindow/mainwindow.h"

#include "job/jobmanager.h"
#include "job/jobplanner.h"
#include "job/localbackend.h"
#include "mainwindow/outputview.h"
#include "mainwindow/runcontrols.h"
#include "mainwindow/runon.h"
#include "settings/settingskeys.h"
#include "ui_mainwindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFileInfo>
#include <QMessageBox>
#include <QSettings>
#include <QTimer>

bool MainWindow::isRunning() const
{
    const Job *job = m_jobs->find(m_current);
    return job && Jobs::isActive(job->state);
}

bool MainWindow::isStopping() const
{
    const Job *job = m_jobs->find(m_current);
    return job && job->state == Jobs::State::Stopping;
}

bool MainWindow::isBusyHere() const
{
    const Job *job = m_jobs->find(m_current);
    return isRunning() && job->where == Jobs::thisComputer();
}

bool MainWindow::letGoOfJob()
{
    if (isBusyHere())
        return false;
    const Job *job = m_jobs->find(m_current);
    if (!job || !Jobs::isActive(job->state))
        return true;
    // Said once the next deck is in, whose loading clears the status line.
    QTimer::singleShot(
            0, this,
            [this, text = tr("The job on %1 goes on; the Jobs tab lists it").arg(job->where)] {
                setStatus(text);
            });
    m_timer->stop();
    m_jobs->follow(0);
    m_current = 0;
    m_run_controls->showIdle(false);
    return true;
}

QString MainWindow::elapsed() const
{
    const Job *job = m_jobs->find(m_current);
    if (!job)
        return Jobs::durationText(0);
    const QDateTime end = job->ended.isValid() ? job->ended : QDateTime::currentDateTime();
    return Jobs::durationText(job->started.secsTo(end));
}

void MainWindow::startJob()
{
    // A stopped job ends by itself; a second Stop would ask the same question again.
    if (isStopping())
        return;
    if (isRunning()) {
        requestStop();
        return;
    }
    const QString program = ui->comboBoxProgram->currentText();
    const PlannedJob planned
            = JobPlanner::plan(SettingsKeys::packageConfig(*m_settings), program, m_loaded.deck(),
                               m_loaded.workDir(), ui->spinBoxProcs->value());
    if (!planned.refusal.isEmpty()) {
        critical(planned.refusal);
        return;
    }
    Job job;
    job.deck = m_loaded.deck();
    job.workDir = m_loaded.workDir();
    job.title = ui->lineEditTitle->text().trimmed();
    job.program = program;
    job.cores = ui->spinBoxProcs->isEnabled() ? ui->spinBoxProcs->value() : 1;
    job.plan = planned.plan;
    job.portal = m_loaded.identity();
    job.where = m_run_on->where();
    QString error;
    const qint64 id = m_jobs->start(job, &error);
    if (id == 0) {
        critical(error);
        return;
    }
    m_current = id;
    // The serial fallback is this computer's: a cluster has its own builds.
    m_job_note = job.where == Jobs::thisComputer() ? planned.note : QString();
    m_loaded.ran();
    enterRunningState();
}

void MainWindow::enterRunningState()
{
    m_run_controls->showRunning(isStopping(), isBusyHere());
    m_output->follow();
    m_jobs->follow(m_current);
    m_timer->start(200);
    setStatus(QString());
}

void MainWindow::compute()
{
    m_jobs->local()->runner()->compute();
}

void MainWindow::execute_d12(QString l_input_file, QString l_output_file, QString l_program)
{
    m_jobs->local()->runner()->execute(l_input_file, l_output_file,
                                       { QFileInfo(l_program).fileName(), l_program, {} },
                                       QStringLiteral("Unable to start the .d12 job: "));
}

void MainWindow::execute_d3(QString l_input_file, QString l_output_file, QString l_program)
{
    m_jobs->local()->runner()->execute(l_input_file, l_output_file,
                                       { QFileInfo(l_program).fileName(), l_program, {} },
                                       QStringLiteral("Unable to start the .d3 job: "));
}

void MainWindow::stepDone()
{
    m_jobs->local()->runner()->stepDone();
}

void MainWindow::jobEnded(const JobRunner::Outcome &l_outcome)
{
    // A question about stopping this job has no subject any more.
    if (m_question)
        m_question->reject();
    stopJob();
    setStatus(Jobs::endText(l_outcome, elapsed()));
    // A long run may have been left in the background.
    if (!isActiveWindow())
        QApplication::alert(this);
    if (!l_outcome.message.isEmpty())
        critical(l_outcome.message, l_outcome.details);
}

void MainWindow::updateProgress()
{
    refreshOutput();
    // While stopping, the status says so until the end.
    if (isStopping())
        return;
    const JobRunner *runner = m_jobs->local()->runner();
    const Job *job = m_jobs->find(m_current);
    if (job && job->where != Jobs::thisComputer())
        setStatus((job->state == Jobs::State::Submitted ? QStringLiteral("Submitted to %1, %2")
                           : job->state == Jobs::State::Queued
                           ? QStringLiteral("Queued on %1, %2")
                           : QStringLiteral("Running on %1, %2"))
                          .arg(job->where, elapsed()));
    else if (!m_jobs->local()->runs(m_current))
        setStatus(QStringLiteral("Running, started by an earlier launcher, %1").arg(elapsed()));
    else if (!m_job_note.isEmpty())
        setStatus(m_job_note + QStringLiteral(", ") + elapsed());
    else
        setStatus(QStringLiteral("Step %1 of %2: %3, %4")
                          .arg(runner->step())
                          .arg(runner->stepCount())
                          .arg(runner->program(), elapsed()));
}

void MainWindow::refreshOutput()
{
    if (const Job *job = m_jobs->find(m_current))
        m_output->poll(job->outputFile);
}

void MainWindow::stopJob()
{
    // Stopping a running job ends it, and its end brings the window back here.
    if (isRunning()) {
        m_jobs->stop(m_current);
        return;
    }
    m_timer->stop();
    // The pane is complete, with its last line in view, once the window is idle.
    if (const Job *job = m_jobs->find(m_current))
        m_output->complete(job->outputFile);
    m_run_controls->showIdle(m_loaded.isPortalJob());
}

bool MainWindow::confirmStop()
{
    QMessageBox question(QMessageBox::Warning, windowTitle(),
                         tr("Do you really want to stop the running job?"),
                         QMessageBox::Yes | QMessageBox::Cancel, this);
    m_question = &question;
    return question.exec() == QMessageBox::Yes;
}

void MainWindow::requestStop()
{
    // The job may have ended while the question was open: then there is nothing to stop.
    if (confirmStop() && isRunning())
        stopJob();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    // A question that the job's end took away was never answered: the window stays. A job
    // that is being stopped needs no question; closing kills what is left of it. A job that an
    // earlier launcher started is not this one's to end.
    const JobRunner *runner = m_jobs->local()->runner();
    const bool stay = runner->isRunning() && !runner->isStopping() && !confirmStop();
    if (stay || !releaseJobFolder()) {
        event->ignore();
        return;
    }
    m_settings->setValue(SettingsKeys::WindowGeometry, saveGeometry());
    event->accept();
}
