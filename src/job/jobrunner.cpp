#include "job/jobrunner.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>

#ifdef Q_OS_UNIX
#include <csignal>
#include <unistd.h>
#endif

JobRunner::JobRunner(QObject *parent)
    : QObject(parent)
{ }

JobRunner::~JobRunner()
{
    // Nothing the launcher started may outlive it.
    const auto processes = findChildren<QProcess *>();
    for (QProcess *process : processes) {
        disconnect(process, nullptr, this, nullptr);
        if (process->state() == QProcess::NotRunning)
            continue;
        signalGroup(process, Signal::Kill);
        process->waitForFinished();
    }
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
        execute(m_plan.deck, m_plan.output, m_plan.executable,
                QStringLiteral("Unable to start the .d12 job: "));
    } else if (QFile::exists(workDir + QStringLiteral("fort.9"))) {
        m_step = 2;
        execute(m_plan.deck, m_plan.output, m_plan.executable,
                QStringLiteral("Unable to start the .d3 job: "));
    } else {
        m_step = 1;
        execute(workDir + QFileInfo(m_plan.deck).baseName() + QStringLiteral(".d12"),
                m_plan.output + QStringLiteral(".out"), m_plan.moltraExecutable(),
                QStringLiteral("Unable to start the .d12 job: "));
    }
}

void JobRunner::execute(const QString &inputFile, const QString &outputFile, const QString &program,
                        const QString &failure)
{
    auto *process = new QProcess(this);
    m_process = process;
    m_output_file = outputFile;
    process->setWorkingDirectory(m_plan.workDir);
    process->setStandardInputFile(inputFile);
    process->setStandardOutputFile(outputFile, QIODevice::Truncate);
#ifdef Q_OS_UNIX
    // Its own process group lets Stop reach whatever the executable starts in turn.
    process->setChildProcessModifier([] { ::setpgid(0, 0); });
#endif
    connect(process, &QProcess::finished, process, &QObject::deleteLater);
    // A failed start may be reported at once or only later; both take the same road.
    connect(process, &QProcess::errorOccurred, this,
            [this, process, failure](QProcess::ProcessError error) {
                if (error == QProcess::FailedToStart)
                    failedToStart(process, failure);
            });
    connect(process, &QProcess::finished, this, [this, process] {
        if (process == m_process)
            stepDone();
    });
    Q_EMIT stepStarted(m_step, outputFile);
    process->start(program, {}, QIODevice::ReadWrite);
    if (process->state() == QProcess::NotRunning)
        failedToStart(process, failure);
}

void JobRunner::failedToStart(QProcess *process, const QString &failure)
{
    // Disconnecting also makes sure that a failure reported twice is shown once.
    const bool firstReport = disconnect(process, nullptr, this, nullptr);
    process->deleteLater();
    if (!firstReport || process != m_process)
        return;
    m_process = nullptr;
    end(Ending::FailedToStart, failure + process->errorString());
}

void JobRunner::stepDone()
{
    m_process = nullptr;
    if (m_step == m_plan.stepCount) {
        end(Ending::Finished);
    } else if (!QFile::exists(m_plan.workDir + QStringLiteral("/fort.9"))) {
        // Running the MOLTRA step again would end the same way.
        end(Ending::NoFort9,
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
        // A stopped step's end must not start another step or end a later job.
        disconnect(m_process, nullptr, this, nullptr);
        signalGroup(m_process, Signal::Terminate);
        m_process = nullptr;
    }
    end(Ending::Stopped);
}

void JobRunner::end(Ending ending, const QString &message)
{
    m_running = false;
    Q_EMIT jobEnded(ending, message);
}

void JobRunner::signalGroup(QProcess *process, Signal signal)
{
    if (process->state() == QProcess::NotRunning)
        return;
#ifdef Q_OS_UNIX
    const auto pid = pid_t(process->processId());
    if (pid <= 0)
        return;
    const int number = signal == Signal::Terminate ? SIGTERM : SIGKILL;
    ::kill(-pid, number);
    // The step may not have made its group yet when it is asked to end very early.
    ::kill(pid, number);
#else
    if (signal == Signal::Terminate)
        process->terminate();
    else
        process->kill();
#endif
}
