// SPDX-License-Identifier: GPL-3.0-or-later
#include "job/jobrunner.h"

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

enum class Signal { Terminate, Kill };

void signalGroup(qint64 group, Signal signal)
{
#ifdef Q_OS_UNIX
    if (group > 0)
        ::kill(-pid_t(group), signal == Signal::Terminate ? SIGTERM : SIGKILL);
#else
    Q_UNUSED(group);
    Q_UNUSED(signal);
#endif
}

void signalStep(QProcess *process, Signal signal)
{
    if (process->state() == QProcess::NotRunning)
        return;
    signalGroup(process->processId(), signal);
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

// At most the last 20 lines of the file, read from its end only.
QString lastLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    file.seek(qMax<qint64>(0, file.size() - 16 * 1024));
    QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    while (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines.mid(qMax<qsizetype>(0, lines.size() - 20)).join(QLatin1Char('\n'));
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
        signalGroup(group, Signal::Kill);
    for (QProcess *process : processes)
        process->waitForFinished();
}

void JobRunner::begin(const JobPlan &plan)
{
    m_plan = plan;
    m_running = true;
    m_step = 0;
}

void JobRunner::compute()
{
    if (!m_running)
        return;
    const QString workDir = m_plan.workDir + QLatin1Char('/');
    if (!m_plan.flagD3) {
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
                failedToStart(failure, process->errorString());
            });
    connect(process, &QProcess::finished, this, [this, process] {
        if (process == m_process)
            stepDone();
    });
    process->start(executable, command.arguments, QIODevice::ReadWrite);
    forgetEndedGroups();
    if (process->processId() > 0)
        m_groups.append(process->processId());
}

void JobRunner::failedToStart(const QString &failure, const QString &error)
{
    end(Ending::FailedToStart, QFileInfo(m_command.program).fileName(), failure + error);
}

void JobRunner::stepDone()
{
    QProcess *process = m_process;
    if (!process || process->state() != QProcess::NotRunning)
        return;
    m_process = nullptr;
    const QString stepText = QStringLiteral("step %1 of %2").arg(m_step).arg(m_plan.stepCount);
    QString reason;
    if (process->exitStatus() == QProcess::CrashExit)
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
        end(Ending::Failed, reason, message);
    } else if (m_step == m_plan.stepCount) {
        end(Ending::Finished);
    } else if (!QFile::exists(m_plan.workDir + QStringLiteral("/fort.9"))) {
        // Running the MOLTRA step again would end the same way.
        end(Ending::NoFort9, m_command.name + QStringLiteral(" left no fort.9"),
            QStringLiteral("The MOLTRA step ended without leaving fort.9 in the working "
                           "directory, so the EVALIX step cannot run."));
    } else {
        compute();
    }
}

void JobRunner::stop()
{
    if (!m_running)
        return;
    if (m_process) {
        signalStep(m_process, Signal::Terminate);
        const qint64 group = m_process->processId();
        QTimer::singleShot(StopGraceMs, this, [group] { signalGroup(group, Signal::Kill); });
        // A stopped step's end must not start another step or end a later job.
        m_process = nullptr;
    }
    end(Ending::Stopped);
}

void JobRunner::end(Ending ending, const QString &reason, const QString &message)
{
    m_running = false;
    Q_EMIT jobEnded({ ending, reason, message });
}

void JobRunner::forgetEndedGroups()
{
#ifdef Q_OS_UNIX
    m_groups.removeIf([](qint64 group) { return ::kill(-pid_t(group), 0) != 0; });
#endif
}
