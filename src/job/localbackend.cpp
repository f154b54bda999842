// SPDX-License-Identifier: GPL-3.0-or-later
#include "job/localbackend.h"

#include "job/jobscript.h"
#include "job/jobstatus.h"
#include "job/processgroups.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTimer>

#ifdef Q_OS_UNIX
#include <csignal>
#include <unistd.h>
#endif

using ProcessGroups::Signal;

LocalBackend::LocalBackend(const QString &runsDir, const QString &stepWrapper, QObject *parent)
    : JobBackend(parent)
    , m_runs_dir(runsDir)
    , m_step_wrapper(stepWrapper)
    , m_look_timer(new QTimer(this))
{
    connect(m_look_timer, &QTimer::timeout, this, &LocalBackend::look);
}

LocalBackend::~LocalBackend()
{
    // Nothing the launcher started may outlive it, not even a member whose leader has ended.
    for (const Run &run : std::as_const(m_runs)) {
        if (!run.process)
            continue;
        disconnect(run.process, nullptr, this, nullptr);
        ProcessGroups::signal(run.group, Signal::Kill);
        run.process->waitForFinished();
    }
}

void LocalBackend::release()
{
    // Their processes would be killed as they go; left to the system, the scripts finish
    // their records and the next launcher watches their groups.
    for (Run &run : m_runs) {
        if (!run.process)
            continue;
        disconnect(run.process, nullptr, this, nullptr);
        run.process->setParent(nullptr);
        run.process = nullptr;
    }
    m_runs.clear();
}

bool LocalBackend::runs(qint64 id) const
{
    const auto run = m_runs.constFind(id);
    return run != m_runs.cend() && run->process;
}

QString LocalBackend::runDir(qint64 id) const
{
    return m_runs_dir + QLatin1Char('/') + QString::number(id);
}

bool LocalBackend::start(const Job &job, QString *error)
{
    // A folder of an earlier ledger's job of the same id holds nothing of this one.
    const QString dir = runDir(job.id);
    QDir(dir).removeRecursively();
    JobScript::Place place;
    place.statusFile = dir + QLatin1Char('/') + JobStatus::fileName();
    place.stepWrapper = m_step_wrapper;
    QFile script(dir + QLatin1Char('/') + JobScript::fileName());
    if (!QDir().mkpath(dir) || !script.open(QIODevice::WriteOnly)
        || script.write(JobScript::render(job.plan, place)) < 0 || !script.flush()) {
        *error = QStringLiteral("Cannot write the job's script %1:\n%2.")
                         .arg(script.fileName(), script.errorString());
        return false;
    }
    Run run;
    run.job = job;
    run.process = new QProcess(this);
    m_runs.insert(job.id, run);
    // Its steps begin once the caller has recorded the job as started.
    QMetaObject::invokeMethod(
            this, [this, id = job.id] { launch(id); }, Qt::QueuedConnection);
    return true;
}

void LocalBackend::launch(qint64 id)
{
    auto run = m_runs.find(id);
    if (run == m_runs.end())
        return;
    QProcess *process = run->process;
    run->launched = true;
    const QString dir = runDir(id);
    process->setWorkingDirectory(run->job.workDir);
    process->setStandardInputFile(QProcess::nullDevice());
    process->setStandardOutputFile(dir + QStringLiteral("/moltra-job.log"));
    process->setStandardErrorFile(dir + QStringLiteral("/moltra-job.log"), QIODevice::Append);
#ifdef Q_OS_UNIX
    // Its own process group lets Stop reach whatever the steps start in turn.
    process->setChildProcessModifier([] { ::setpgid(0, 0); });
#endif
    connect(process, &QProcess::errorOccurred, this, [this, id](QProcess::ProcessError error) {
        auto run = m_runs.find(id);
        if (error != QProcess::FailedToStart || run == m_runs.end())
            return;
        // Said once start has returned: whoever hears of the end may run an event loop.
        const QString reason = run->process->errorString();
        QMetaObject::invokeMethod(
                this, [this, id, reason] { failedToStart(id, reason); }, Qt::QueuedConnection);
    });
    connect(process, &QProcess::finished, this, [this, id] {
        auto run = m_runs.find(id);
        if (run == m_runs.end())
            return;
        run->scriptEnded = true;
        lookAt(*run);
    });
    process->start(JobScript::Place().shell, { dir + QLatin1Char('/') + JobScript::fileName() });
    if (process->processId() > 0) {
        run->group = process->processId();
        Q_EMIT groupStarted(id, run->group);
    }
    m_look_timer->start(LookIntervalMs);
}

void LocalBackend::failedToStart(qint64 id, const QString &error)
{
    auto run = m_runs.find(id);
    if (run == m_runs.end())
        return;
    const bool evalix = run->job.plan.stepCount() == 2;
    JobOutcome outcome;
    outcome.ending = Jobs::Ending::FailedToStart;
    outcome.reason = run->job.program;
    outcome.message = (evalix ? QStringLiteral("Unable to start the .d3 job: ")
                              : QStringLiteral("Unable to start the .d12 job: "))
            + error;
    end(id, outcome);
}

void LocalBackend::stop(const Job &job)
{
    auto run = m_runs.find(job.id);
    if (run == m_runs.end() || run->stopping)
        return;
    if (run->process && !run->launched) {
        // Stopped before its script began: nothing ran.
        JobOutcome outcome;
        outcome.ending = Jobs::Ending::Stopped;
        end(job.id, outcome);
        return;
    }
    run->stopping = true;
    run->stopClock.start();
    ProcessGroups::signal(run->group, Signal::Terminate);
#ifdef Q_OS_UNIX
    // The script may not have made its group yet when it is asked to end very early.
    if (run->process && run->process->processId() > 0)
        ::kill(pid_t(run->process->processId()), SIGTERM);
#endif
    Q_EMIT stopping(job.id);
    m_look_timer->start(LookIntervalMs);
}

void LocalBackend::watch(const Job &job)
{
    Run run;
    run.job = job;
    run.group = job.processGroup;
    run.stepsSeen = 0;
    m_runs.insert(job.id, run);
    m_look_timer->start(LookIntervalMs);
}

void LocalBackend::forget(const Job &job)
{
    QDir(runDir(job.id)).removeRecursively();
}

void LocalBackend::look()
{
    const QList<qint64> ids = m_runs.keys();
    for (const qint64 id : ids) {
        auto run = m_runs.find(id);
        if (run != m_runs.end())
            lookAt(*run);
    }
    if (m_runs.isEmpty())
        m_look_timer->stop();
}

void LocalBackend::lookAt(Run &run)
{
    const qint64 id = run.job.id;
    const JobStatus::Record record
            = JobStatus::read(runDir(id) + QLatin1Char('/') + JobStatus::fileName());
    for (; run.stepsSeen < record.steps.size(); ++run.stepsSeen) {
        const JobStatus::Step &step = record.steps.at(run.stepsSeen);
        const PlanStep *planned = run.job.plan.step(step.number);
        if (!step.started.isValid() || !planned)
            break;
        Q_EMIT stepStarted(id, step.number, JobStatus::programOf(step, run.job.plan),
                           run.job.workDir + QLatin1Char('/') + planned->output);
    }
    // The end of a script this launcher started is heard; its group matters only for a watched
    // job and while stopping (looking through the system's processes is not free).
    const bool groupAlive = (!run.process || run.stopping) && ProcessGroups::alive(run.group);
    const qint64 waited = run.stopping ? run.stopClock.elapsed() : 0;
    if (run.stopping && waited >= StopGraceMs)
        ProcessGroups::signal(run.group, Signal::Kill);
    const bool scriptGone = run.process ? run.scriptEnded : !groupAlive;
    QString leftOver;
    if (!scriptGone || (run.stopping && groupAlive)) {
        if (!run.stopping || waited < StopGraceMs + KillWaitMs)
            return;
        // Killed, yet not gone (a process stuck in the kernel): the job ends all the same.
        leftOver = QStringLiteral("some processes of %1 did not end").arg(run.job.program);
    }
    JobOutcome outcome = JobStatus::outcomeOf(record, run.job.plan, run.stopping);
    if (outcome.ending == Jobs::Ending::Stopped) {
        outcome.reason = leftOver;
    } else if (record.end.isEmpty()) {
        outcome = JobOutcome();
        outcome.ending = Jobs::Ending::Unknown;
        const bool kept = QFile::exists(runDir(id) + QLatin1Char('/') + JobStatus::fileName());
        outcome.reason = !kept ? QStringLiteral("ended; its exit status is unknown, as an earlier "
                                                "launcher started it without keeping a record")
                : !record.valid
                ? QStringLiteral("ended; its record cannot be read, so how is unknown")
                : QStringLiteral("ended before its record said how, so its exit status is "
                                 "unknown");
    }
    end(id, outcome);
}

void LocalBackend::end(qint64 id, JobOutcome outcome)
{
    const Run run = m_runs.take(id);
    if (run.process) {
        disconnect(run.process, nullptr, this, nullptr);
        // A process that never started, or whose end is heard now: let it go once it is done.
        if (run.process->state() == QProcess::NotRunning)
            run.process->deleteLater();
        else
            connect(run.process, &QProcess::finished, run.process, &QObject::deleteLater);
    }
    if (m_runs.isEmpty())
        m_look_timer->stop();
    Q_EMIT ended(id, outcome);
}
