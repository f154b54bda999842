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
#include <QPushButton>
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

QString MainWindow::placeName(const QString &l_where)
{
    return l_where == Jobs::thisComputer() ? tr("this computer") : l_where;
}

void MainWindow::letGoOfJob()
{
    const Job *job = m_jobs->find(m_current);
    if (!job || !Jobs::isActive(job->state))
        return;
    // Said once the next deck is in, whose loading clears the status line.
    QTimer::singleShot(
            0, this,
            [this,
             text = tr("The job on %1 goes on; the Jobs tab lists it").arg(placeName(job->where))] {
                setStatus(text);
            });
    m_timer->stop();
    m_jobs->follow(0);
    m_current = 0;
    m_run_controls->showIdle(false);
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
    // What runs is what is shown: a deck saved since, whose change was not yet seen.
    reloadDeck();
    const QString program = ui->comboBoxProgram->currentText();
    const PlannedJob planned = JobPlanner::plan(
            m_run_on->packageConfig(SettingsKeys::packageConfig(*m_settings)), program,
            m_loaded.deck(), m_loaded.workDir(), ui->spinBoxProcs->value());
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
    m_loaded.ran();
    m_settings->setValue(SettingsKeys::LastRunOn, job.where);
    m_settings->setValue(SettingsKeys::LastProgram, program);
    m_settings->setValue(SettingsKeys::LastCores, ui->spinBoxProcs->value());
    enterRunningState();
}

void MainWindow::enterRunningState()
{
    const Job *job = m_jobs->find(m_current);
    m_run_controls->showRunning(
            isStopping(), job->where == Jobs::thisComputer() && job->state != Jobs::State::Queued);
    m_output->follow();
    m_jobs->follow(m_current);
    m_timer->start(200);
    setStatus(QString());
}

void MainWindow::jobEnded(const JobOutcome &l_outcome)
{
    // A question about stopping this job has no subject any more.
    if (m_question)
        m_question->reject();
    stopJob();
    QString said = Jobs::endText(l_outcome, elapsed());
    if (const Job *job = m_jobs->find(m_current); job && job->usage.isKnown())
        said += QStringLiteral(" (%1)").arg(
                job->usage.text(job->cores, job->started.msecsTo(job->ended) / 1000.0));
    setStatus(said);
    if (!l_outcome.message.isEmpty())
        critical(l_outcome.message, l_outcome.details);
}

void MainWindow::updateProgress()
{
    refreshOutput();
    // While stopping, the status says so until the end.
    if (isStopping())
        return;
    const Job *job = m_jobs->find(m_current);
    if (!job)
        return;
    if (job->state == Jobs::State::Submitted || job->state == Jobs::State::Queued)
        setStatus((job->state == Jobs::State::Submitted ? tr("Submitted to %1, %2")
                                                        : tr("Queued on %1, %2"))
                          .arg(placeName(job->where), elapsed()));
    else if (job->step == 0)
        setStatus(job->where == Jobs::thisComputer()
                          ? QStringLiteral("Running, started by an earlier launcher, %1")
                                    .arg(elapsed())
                          : QStringLiteral("Running on %1, %2").arg(job->where, elapsed()));
    else
        setStatus(stepText(*job) + QStringLiteral(", ") + elapsed());
}

QString MainWindow::stepText(const Job &job) const
{
    // The serial build that runs in place of a parallel one says so.
    const PlanStep *step = job.plan.step(job.step);
    if (step && job.stepProgram != step->program)
        return JobPlanner::fallbackText(*step);
    QString text = QStringLiteral("Step %1 of %2: %3")
                           .arg(job.step)
                           .arg(job.plan.stepCount())
                           .arg(job.stepProgram);
    if (job.where != Jobs::thisComputer())
        text += QStringLiteral(" on ") + job.where;
    return text;
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
    return askStop(false) == StopAnswer::Stop;
}

MainWindow::StopAnswer MainWindow::askStop(bool closing)
{
    QMessageBox question(QMessageBox::Warning, windowTitle(),
                         tr("Do you really want to stop the running job?"),
                         QMessageBox::Yes | QMessageBox::Cancel, this);
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

void MainWindow::requestStop()
{
    // The job may have ended while the question was open: then there is nothing to stop.
    if (confirmStop() && isRunning())
        stopJob();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    // Jobs being stopped need no question; closing waits for them as it does after Yes. Jobs
    // that an earlier launcher started are not this one's to end.
    QList<qint64> running;
    bool asked = false;
    for (const Job &job : m_jobs->jobs()) {
        if (!m_jobs->local()->runs(job.id))
            continue;
        running.append(job.id);
        asked = asked || job.state != Jobs::State::Stopping;
    }
    const StopAnswer answer = asked && !m_close_when_stopped ? askStop(true) : StopAnswer::Stop;
    if (answer == StopAnswer::Stay || (!m_close_when_stopped && !releaseJobFolder())) {
        event->ignore();
        return;
    }
    m_settings->setValue(SettingsKeys::WindowGeometry, saveGeometry());
    if (answer == StopAnswer::Leave) {
        m_jobs->leaveRunning();
    } else if (!running.isEmpty()) {
        // Stopped as Stop does, with the program's own clean-up; the window goes once the
        // last of them has ended.
        m_close_when_stopped = true;
        for (const qint64 id : std::as_const(running))
            m_jobs->stop(id);
        event->ignore();
        return;
    }
    event->accept();
}
