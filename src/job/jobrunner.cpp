// SPDX-License-Identifier: GPL-3.0-or-later
#include "job/jobrunner.h"

#include "job/processgroups.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>

#ifdef Q_OS_UNIX
#include <csignal>
#include <unistd.h>
#endif

namespace {

using ProcessGroups::Signal;

void signalStep(QProcess *process, Signal signal)
{
    if (process->state() == QProcess::NotRunning)
        return;
    ProcessGroups::signal(process->processId(), signal);
#ifdef Q_OS_UNIX
    // The step may not have made its group yet when it is asked to end very early.
    if (process->processId() > 0)
        ::kill(pid_t(process->processId()), signal == Signal::Terminate ? SIGTERM : SIGKILL);
#else
    if (signal == Signal::Terminate)
        process->terminate();
    else
        process->kill();
#endif
}

QString signalName(int number)
{
#ifdef Q_OS_UNIX
    static const QList<QPair<int, const char *>> names = {
        { SIGHUP, "SIGHUP" },   { SIGINT, "SIGINT" },   { SIGQUIT, "SIGQUIT" },
        { SIGILL, "SIGILL" },   { SIGTRAP, "SIGTRAP" }, { SIGABRT, "SIGABRT" },
        { SIGBUS, "SIGBUS" },   { SIGFPE, "SIGFPE" },   { SIGKILL, "SIGKILL" },
        { SIGUSR1, "SIGUSR1" }, { SIGSEGV, "SIGSEGV" }, { SIGUSR2, "SIGUSR2" },
        { SIGPIPE, "SIGPIPE" }, { SIGALRM, "SIGALRM" }, { SIGTERM, "SIGTERM" },
        { SIGXCPU, "SIGXCPU" }, { SIGXFSZ, "SIGXFSZ" },
    };
    for (const auto &[signal, name] : names) {
        if (signal == number)
            return QLatin1String(name);
    }
#endif
    return QStringLiteral("signal %1").arg(number);
}

// The end of the file, at most `limit` bytes of it, read from its end only.
QString tailOf(const QString &path, qint64 limit)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    file.seek(qMax<qint64>(0, file.size() - limit));
    return QString::fromUtf8(file.read(limit));
}

// At most the last 20 lines of the file.
QString lastLines(const QString &path)
{
    QStringList lines = tailOf(path, 16 * 1024).split(QLatin1Char('\n'));
    while (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines.mid(qMax<qsizetype>(0, lines.size() - 20)).join(QLatin1Char('\n'));
}

JobRunner::Outcome outcomeOf(JobRunner::Ending ending, const QString &reason = QString(),
                             const QString &message = QString())
{
    JobRunner::Outcome outcome;
    outcome.ending = ending;
    outcome.reason = reason;
    outcome.message = message;
    return outcome;
}

void removeIfEmpty(const QString &path)
{
    if (QFileInfo(path).size() == 0)
        QFile::remove(path);
}

}

QString JobRunner::findExecutable(const QString &program)
{
    const QString path = program.contains(QLatin1Char('/'))
            ? program
            : QStandardPaths::findExecutable(program);
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable() ? path : QString();
}

JobRunner::JobRunner(QObject *parent)
    : QObject(parent)
{ }

JobRunner::~JobRunner()
{
    // Nothing the launcher started may outlive it, not even a member whose leader has ended.
    const auto processes = findChildren<QProcess *>();
    for (QProcess *process : processes) {
        disconnect(process, nullptr, this, nullptr);
        signalStep(process, Signal::Kill);
    }
    for (const qint64 group : std::as_const(m_groups))
        ProcessGroups::signal(group, Signal::Kill);
    for (QProcess *process : processes)
        process->waitForFinished();
}

bool JobRunner::begin(const JobPlan &plan)
{
    if (m_running)
        return false;
    m_plan = plan;
    m_running = true;
    m_stopping = false;
    m_step = 0;
    ++m_job;
    m_backups.clear();
    return true;
}

void JobRunner::compute()
{
    if (!m_running)
        return;
    const QString workDir = m_plan.workDir + QLatin1Char('/');
    if (m_plan.stepCount == 1) {
        m_step = 1;
        execute(m_plan.deck, m_plan.output, m_plan.command,
                QStringLiteral("Unable to start the .d12 job: "));
    } else if (QFile::exists(workDir + QStringLiteral("fort.9"))) {
        m_step = 2;
        execute(m_plan.deck, m_plan.output, m_plan.command,
                QStringLiteral("Unable to start the .d3 job: "));
    } else {
        m_step = 1;
        execute(workDir + QFileInfo(m_plan.deck).baseName() + QStringLiteral(".d12"),
                m_plan.output + QStringLiteral(".out"), m_plan.moltraCommand,
                QStringLiteral("Unable to start the .d12 job: "));
    }
}

void JobRunner::execute(const QString &inputFile, const QString &outputFile,
                        const StepCommand &command, const QString &failure)
{
    m_command = command;
    const QString &program = command.program;
    m_output_file = outputFile;
    Q_EMIT stepStarted(m_step, outputFile);
    // Checked before the output is opened, so that a start that cannot succeed leaves the
    // output of an earlier run as it was.
    const QString executable = findExecutable(program);
    if (executable.isEmpty()) {
        failedToStart(failure, QStringLiteral("%1 is not an executable file").arg(program));
        return;
    }

    QString error;
    if (!keepPreviousOutput(outputFile, &error)) {
        failedToStart(failure, error);
        return;
    }

    auto *process = new QProcess(this);
    m_process = process;
    process->setWorkingDirectory(m_plan.workDir);
    process->setStandardInputFile(inputFile);
    process->setStandardOutputFile(outputFile, QIODevice::Truncate);
    const QString errorFile = errorFileOf(outputFile);
    process->setStandardErrorFile(errorFile, QIODevice::Truncate);
#ifdef Q_OS_UNIX
    // Its own process group lets Stop reach whatever the executable starts in turn.
    process->setChildProcessModifier([] { ::setpgid(0, 0); });
#endif
    connect(process, &QProcess::finished, process, [process, errorFile] {
        removeIfEmpty(errorFile);
        process->deleteLater();
    });
    connect(process, &QProcess::errorOccurred, this,
            [this, process, failure, errorFile](QProcess::ProcessError error) {
                if (error != QProcess::FailedToStart || process != m_process)
                    return;
                m_process = nullptr;
                removeIfEmpty(errorFile);
                process->deleteLater();
                // Said once QProcess::start has returned: whoever hears of the end may run an
                // event loop, which must not delete the process under start's feet.
                const quint64 job = m_job;
                const QString reason = process->errorString();
                QMetaObject::invokeMethod(
                        this,
                        [this, job, failure, reason] {
                            if (m_running && job == m_job)
                                failedToStart(failure, reason);
                        },
                        Qt::QueuedConnection);
            });
    connect(process, &QProcess::finished, this, [this, process] {
        if (process != m_process)
            return;
        if (!m_stopping)
            return stepDone();
        m_process = nullptr;
        checkStopped();
    });
    process->start(executable, command.arguments, QIODevice::ReadWrite);
    forgetEndedGroups();
    if (process->processId() > 0) {
        m_groups.append(process->processId());
        Q_EMIT groupStarted(process->processId());
    }
}

bool JobRunner::keepPreviousOutput(const QString &outputFile, QString *error)
{
    if (QFileInfo(outputFile).size() == 0)
        return true;
    // The error output goes with its output: a stale one of an older generation would mislead.
    for (const QString &file : { outputFile, errorFileOf(outputFile) }) {
        const QString backup = backupOf(file);
        if (QFileInfo::exists(backup) && !QFile::remove(backup)) {
            *error = QStringLiteral("%1 cannot be replaced, so the previous output %2 would be "
                                    "lost. Move it away and start again.")
                             .arg(backup, outputFile);
            return false;
        }
        QFile current(file);
        if (current.exists() && !current.rename(backup)) {
            *error = QStringLiteral("%1 cannot be kept as %2: %3")
                             .arg(file, backup, current.errorString());
            return false;
        }
    }
    m_backups.append(backupOf(outputFile));
    return true;
}

void JobRunner::failedToStart(const QString &failure, const QString &error)
{
    // A step that never ran wrote nothing: the previous output goes back to its place.
    const QString backup = backupOf(m_output_file);
    if (m_backups.endsWith(backup) && QFileInfo(m_output_file).size() == 0) {
        for (const QString &file : { m_output_file, errorFileOf(m_output_file) }) {
            QFile::remove(file);
            QFile::rename(backupOf(file), file);
        }
        m_backups.removeLast();
    }
    end(outcomeOf(Ending::FailedToStart, QFileInfo(m_command.program).fileName(), failure + error));
}

void JobRunner::stepDone()
{
    QProcess *process = m_process;
    if (!process || process->state() != QProcess::NotRunning)
        return;
    m_process = nullptr;
    const QString stepText = QStringLiteral("step %1 of %2").arg(m_step).arg(m_plan.stepCount);
    const bool killed = process->exitStatus() == QProcess::CrashExit;
    Outcome outcome;
    outcome.exitCode = killed ? -1 : process->exitCode();
    outcome.signal = killed ? process->exitCode() : 0;
    QString reason;
    if (killed)
        reason = QStringLiteral("%1 was killed by %2")
                         .arg(m_command.name, signalName(process->exitCode()));
    else if (process->exitCode() != 0)
        reason = QStringLiteral("%1 exited with code %2")
                         .arg(m_command.name)
                         .arg(process->exitCode());
    if (!reason.isEmpty()) {
        QString message
                = QStringLiteral("%1 (%2) %3.")
                          .arg(m_command.name, stepText, reason.mid(m_command.name.size() + 1));
        const QString errorFile = errorFileOf(m_output_file);
        const QString lines = lastLines(errorFile);
        if (!lines.isEmpty())
            message += QStringLiteral("\n\nThe last lines of %1:\n\n%2").arg(errorFile, lines);
        end({ Ending::Failed, reason, message, tailOf(errorFile, DetailsLimit), outcome.exitCode,
              outcome.signal });
    } else if (m_step == m_plan.stepCount) {
        outcome.ending = Ending::Finished;
        end(outcome);
    } else if (!QFile::exists(m_plan.workDir + QStringLiteral("/fort.9"))) {
        // Running the MOLTRA step again would end the same way.
        end({ Ending::NoFort9, m_command.name + QStringLiteral(" left no fort.9"),
              QStringLiteral("The MOLTRA step ended without leaving fort.9 in the working "
                             "directory, so the EVALIX step cannot run."),
              QString(), outcome.exitCode, outcome.signal });
    } else {
        compute();
    }
}

void JobRunner::stop()
{
    if (!m_running || m_stopping)
        return;
    if (!m_process) {
        end(outcomeOf(Ending::Stopped));
        return;
    }
    m_stopping = true;
    signalStep(m_process, Signal::Terminate);
    m_stopped_group = m_process->processId();
    m_stop_clock.start();
    if (!m_stop_timer) {
        m_stop_timer = new QTimer(this);
        m_stop_timer->setInterval(100);
        connect(m_stop_timer, &QTimer::timeout, this, &JobRunner::checkStopped);
    }
    m_stop_timer->start();
    Q_EMIT stopping();
}

void JobRunner::checkStopped()
{
    if (!m_stopping)
        return;
    // The leader's end is heard from its process, which is then let go.
    const bool leaderEnded = !m_process;
    const qint64 waited = m_stop_clock.elapsed();
    if (waited >= StopGraceMs) {
        if (m_process)
            signalStep(m_process, Signal::Kill);
        ProcessGroups::signal(m_stopped_group, Signal::Kill);
    }
    QString reason;
    if (!leaderEnded || ProcessGroups::alive(m_stopped_group)) {
        if (waited < StopGraceMs + KillWaitMs)
            return;
        // Killed, yet not gone (a process stuck in the kernel): the job ends all the same.
        reason = QStringLiteral("some processes of %1 did not end").arg(m_command.name);
    }
    m_stop_timer->stop();
    // The leader's end, if it ever comes, belongs to no job.
    m_process = nullptr;
    end(outcomeOf(Ending::Stopped, reason));
}

void JobRunner::end(Outcome outcome)
{
    m_running = false;
    m_stopping = false;
    if (outcome.ending != Ending::Stopped && outcome.ending != Ending::Finished
        && !m_backups.isEmpty())
        outcome.message += QStringLiteral("\n\nThe previous output is kept as %1.")
                                   .arg(m_backups.join(QStringLiteral(" and ")));
    Q_EMIT jobEnded(outcome);
}

void JobRunner::forgetEndedGroups()
{
#ifdef Q_OS_UNIX
    m_groups.removeIf([](qint64 group) { return ::kill(-pid_t(group), 0) != 0; });
#endif
}
