// SPDX-License-Identifier: GPL-3.0-or-later
#include "cluster/slurmbackend.h"

#include "cluster/slurmscript.h"
#include "job/shellwords.h"
#include "portal/formbody.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTimer>

namespace {

const QString JobLine = QStringLiteral("moltra-job ");
const QString SqueueEnd = QStringLiteral("moltra-squeue ");
const QString AnswerEnd = QStringLiteral("moltra-end");
// Slurm's states of a job that waits or runs; any other is an end, which its exit-status file
// or Slurm's record of it tells.
const QStringList QueuedStates = { QStringLiteral("PENDING"),     QStringLiteral("CONFIGURING"),
                                   QStringLiteral("REQUEUED"),    QStringLiteral("REQUEUE_HOLD"),
                                   QStringLiteral("REQUEUE_FED"), QStringLiteral("RESV_DEL_HOLD") };
const QStringList RunningStates
        = { QStringLiteral("RUNNING"), QStringLiteral("COMPLETING"), QStringLiteral("SUSPENDED"),
            QStringLiteral("STOPPED"), QStringLiteral("SIGNALING"),  QStringLiteral("STAGE_OUT"),
            QStringLiteral("RESIZING") };

QString q(const QString &word)
{
    return ShellWords::quote(word);
}

QString remotePath(const ClusterProfile &profile, qint64 id, const QString &name)
{
    return q(QStringLiteral("%1/%2/%3").arg(profile.folder(), QString::number(id), name));
}

// The files a job needs besides its deck, where they are.
QStringList inputFiles(const Job &job)
{
    QStringList files{ job.deck };
    const QString dir = job.workDir + QLatin1Char('/');
    QStringList companions{ QStringLiteral("fort.34"), QStringLiteral("fort.9") };
    if (SlurmScript::stepPrograms(job).size() == 2)
        companions.append(QFileInfo(job.deck).baseName() + QStringLiteral(".d12"));
    for (const QString &name : std::as_const(companions)) {
        if (QFileInfo(dir + name).isFile() && !files.contains(dir + name))
            files.append(dir + name);
    }
    return files;
}

// How the job ended, from the status its script left: "2 0", "1 3" or "1 nofort9".
JobRunner::Outcome outcomeOfStatus(const Job &job, const QString &status)
{
    const QStringList programs = SlurmScript::stepPrograms(job);
    const QStringList words = status.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    const int step = qBound(1, words.value(0).toInt(), int(programs.size()));
    const QString program = programs.at(step - 1);
    JobRunner::Outcome outcome;
    if (words.value(1) == QLatin1String("nofort9")) {
        outcome.ending = JobRunner::Ending::NoFort9;
        outcome.reason = program + QStringLiteral(" left no fort.9");
        outcome.message = QStringLiteral("The MOLTRA step ended without leaving fort.9 in the "
                                         "job's folder, so the EVALIX step could not run.");
        return outcome;
    }
    bool ok = false;
    outcome.exitCode = words.value(1).toInt(&ok);
    if (ok && outcome.exitCode == 0)
        return outcome;
    outcome.ending = JobRunner::Ending::Failed;
    outcome.reason = ok
            ? QStringLiteral("%1 exited with code %2").arg(program).arg(outcome.exitCode)
            : QStringLiteral("%1 left an unreadable exit status").arg(program);
    outcome.message = QStringLiteral("%1 (step %2 of %3) %4.")
                              .arg(program)
                              .arg(step)
                              .arg(programs.size())
                              .arg(outcome.reason.mid(program.size() + 1));
    return outcome;
}

// How a job that left the queue without an exit status ended, from "scontrol -o show job".
// Empty when Slurm does not say it ended.
std::optional<JobRunner::Outcome> outcomeOfSlurm(const QString &line, bool stopping)
{
    static const QRegularExpression jobState(QStringLiteral("JobState=(\\w+)"));
    const QString state = jobState.match(line).captured(1);
    if (QueuedStates.contains(state) || RunningStates.contains(state))
        return std::nullopt;
    JobRunner::Outcome outcome;
    if (stopping || state == QLatin1String("CANCELLED")) {
        outcome.ending = JobRunner::Ending::Stopped;
        if (!stopping)
            outcome.reason = QStringLiteral("cancelled on the cluster");
    } else if (state == QLatin1String("COMPLETED")) {
        outcome.exitCode = 0;
    } else if (state == QLatin1String("TIMEOUT")) {
        outcome.ending = JobRunner::Ending::Failed;
        outcome.reason = QStringLiteral("reached its time limit on the cluster");
    } else if (!state.isEmpty()) {
        outcome.ending = JobRunner::Ending::Failed;
        outcome.reason = QStringLiteral("ended on the cluster as %1").arg(state);
    } else {
        outcome.ending = JobRunner::Ending::Unknown;
        outcome.reason = QStringLiteral("left the cluster's queue without an exit status");
    }
    outcome.message = outcome.reason;
    return outcome;
}

}

SlurmBackend::SlurmBackend(const ClusterProfile &profile, const PackageConfig &package,
                           const SshConfig &ssh, QObject *parent)
    : JobBackend(parent)
    , m_profile(profile)
    , m_package(package)
    , m_poll_timer(new QTimer(this))
    , m_follow_timer(new QTimer(this))
{
    m_package.packageDir = profile.packageDir;
    QString error;
    m_ssh = new SshClient(ssh, profile.host, profile.sshOptionWords(&error), this);
    m_poll_timer->setSingleShot(true);
    connect(m_poll_timer, &QTimer::timeout, this, &SlurmBackend::poll);
    connect(m_follow_timer, &QTimer::timeout, this, &SlurmBackend::followOutput);
}

bool SlurmBackend::start(const Job &job, QString *error)
{
    *error = m_profile.problem();
    if (!error->isEmpty())
        return false;
    if (!QFileInfo(job.deck).isReadable()) {
        *error = QStringLiteral("The input file %1 cannot be read.").arg(job.deck);
        return false;
    }
    // The output of an earlier run is kept, as a local run keeps it: the mirror starts empty.
    if (QFile::exists(job.outputFile)) {
        const QString backup = JobRunner::backupOf(job.outputFile);
        QFile::remove(backup);
        if (!QFile::rename(job.outputFile, backup)) {
            *error = QStringLiteral("The earlier output %1 cannot be kept as %2.")
                             .arg(job.outputFile, backup);
            return false;
        }
    }
    Tracked tracked{ job, true, false, false };
    tracked.job.state = Jobs::State::Submitted;
    m_jobs.insert(job.id, tracked);
    const qint64 id = job.id;
    m_ssh->run(SlurmScript::prepare(m_profile, m_package, job), {},
               [this, id, files = inputFiles(job)](const SshResult &result) {
                   if (!result.fault.isEmpty())
                       refuse(id,
                              QStringLiteral("%1 is not reachable: %2")
                                      .arg(m_profile.name, result.fault));
                   else if (result.exitCode != 0)
                       refuse(id,
                              QString::fromUtf8(result.output).trimmed()
                                      + QString(result.exitCode == SlurmScript::Refused
                                                        ? QString()
                                                        : result.error.trimmed()));
                   else
                       send(id, files);
               });
    return true;
}

void SlurmBackend::refuse(qint64 id, const QString &problem)
{
    m_jobs.remove(id);
    JobRunner::Outcome outcome;
    outcome.ending = JobRunner::Ending::FailedToStart;
    outcome.reason = QStringLiteral("not submitted to %1").arg(m_profile.name);
    outcome.message
            = QStringLiteral("The job was not submitted to %1: %2.").arg(m_profile.name, problem);
    Q_EMIT ended(id, outcome);
}

void SlurmBackend::send(qint64 id, QStringList files)
{
    if (files.isEmpty()) {
        submit(id);
        return;
    }
    const QString file = files.takeFirst();
    m_ssh->upload(file, remotePath(m_profile, id, QFileInfo(file).fileName()),
                  [this, id, file, files](const SshResult &result) {
                      if (result.ok())
                          send(id, files);
                      else
                          refuse(id,
                                 QStringLiteral("%1 could not be copied: %2")
                                         .arg(file,
                                              result.fault.isEmpty() ? result.error.trimmed()
                                                                     : result.fault));
                  });
}

void SlurmBackend::submit(qint64 id)
{
    auto tracked = m_jobs.find(id);
    if (tracked == m_jobs.end())
        return;
    if (tracked->stopping) {
        // Stopped before it went to Slurm: nothing is left to cancel.
        m_jobs.erase(tracked);
        JobRunner::Outcome outcome;
        outcome.ending = JobRunner::Ending::Stopped;
        Q_EMIT ended(id, outcome);
        return;
    }
    const Job job = tracked->job;
    m_ssh->run(SlurmScript::submit(m_profile, job),
               SlurmScript::jobScript(m_profile, m_package, job),
               [this, id](const SshResult &result) {
                   auto tracked = m_jobs.find(id);
                   if (tracked == m_jobs.end())
                       return;
                   tracked->submitting = false;
                   if (!result.fault.isEmpty()) {
                       // Whether sbatch took it is read from the job's folder at the next look.
                       fault(result.fault);
                       schedulePoll();
                       return;
                   }
                   const QString remoteId = QString::fromUtf8(result.output).trimmed();
                   if (result.exitCode != 0 || remoteId.isEmpty()) {
                       refuse(id,
                              QStringLiteral("sbatch refused it: %1")
                                      .arg((QString::fromUtf8(result.output) + result.error)
                                                   .trimmed()));
                       return;
                   }
                   adopt(*tracked, remoteId);
                   if (tracked->stopping)
                       stop(tracked->job);
                   schedulePoll();
               });
}

void SlurmBackend::adopt(Tracked &tracked, const QString &remoteId)
{
    // "--parsable" adds the cluster's name after a semicolon on a federation.
    tracked.job.remoteId = remoteId.section(QLatin1Char(';'), 0, 0).trimmed();
    Q_EMIT remoteIdAssigned(tracked.job.id, tracked.job.remoteId);
}

void SlurmBackend::stop(const Job &job)
{
    auto tracked = m_jobs.find(job.id);
    if (tracked == m_jobs.end() || tracked->ending)
        return;
    if (!tracked->stopping) {
        tracked->stopping = true;
        Q_EMIT stopping(job.id);
    }
    if (tracked->job.remoteId.isEmpty())
        return;
    m_ssh->run(QStringLiteral("scancel %1").arg(q(tracked->job.remoteId)), {},
               [this](const SshResult &result) {
                   if (!result.fault.isEmpty())
                       fault(result.fault);
               });
}

void SlurmBackend::watch(const Job &job)
{
    m_jobs.insert(job.id, { job, false, job.state == Jobs::State::Stopping, false });
    schedulePoll();
}

void SlurmBackend::schedulePoll()
{
    if (m_jobs.isEmpty() || m_polling)
        return;
    // Sites ask for minutes between looks at the queue, longer after faults.
    const qint64 interval = qint64(m_profile.pollSeconds) * 1000 * m_back_off;
    const qint64 due
            = m_last_poll.isValid() ? qMax<qint64>(0, interval - m_last_poll.elapsed()) : 0;
    if (!m_poll_timer->isActive() || m_poll_timer->remainingTime() > due)
        m_poll_timer->start(int(due));
}

void SlurmBackend::poll()
{
    if (m_polling || m_jobs.isEmpty())
        return;
    QStringList ids;
    QStringList lines;
    for (const Tracked &tracked : std::as_const(m_jobs)) {
        if (tracked.submitting || tracked.ending)
            continue;
        if (!tracked.job.remoteId.isEmpty())
            ids.append(tracked.job.remoteId);
        const qint64 id = tracked.job.id;
        lines.append(QStringLiteral("printf '%1%2|%s|%s\\n' \"$(cat -- %3 2>/dev/null)\" "
                                    "\"$(cat -- %4 2>/dev/null)\"")
                             .arg(JobLine, QString::number(id),
                                  remotePath(m_profile, id, SlurmScript::idFile()),
                                  remotePath(m_profile, id, SlurmScript::statusFile())));
    }
    if (lines.isEmpty())
        return;
    // One request to the controller for all the cluster's jobs. A single id is given twice, as
    // squeue fails on one unknown id alone but not on a list.
    if (ids.size() == 1)
        ids.append(ids.first());
    if (!ids.isEmpty())
        lines.prepend(QStringLiteral("squeue -h -j %1 -o '%i|%T|%r' 2>&1; echo \"%2$?\"")
                              .arg(q(ids.join(QLatin1Char(','))), SqueueEnd));
    lines.append(QStringLiteral("echo ") + AnswerEnd);
    m_polling = true;
    ++m_polls;
    m_last_poll.start();
    m_ssh->run(lines.join(QLatin1Char('\n')), {}, [this](const SshResult &result) {
        m_polling = false;
        pollAnswered(result);
        schedulePoll();
    });
}

void SlurmBackend::pollAnswered(const SshResult &result)
{
    const QStringList lines = QString::fromUtf8(result.output).split(QLatin1Char('\n'));
    if (!result.fault.isEmpty() || !lines.contains(AnswerEnd)) {
        fault(result.fault.isEmpty()
                      ? QStringLiteral("its answer was incomplete: %1")
                                .arg((QString::fromUtf8(result.output) + result.error).trimmed())
                      : result.fault);
        return;
    }
    QHash<QString, QString> queued;
    QHash<qint64, QStringList> files;
    QStringList squeueErrors;
    bool squeueFailed = false;
    for (const QString &line : lines) {
        if (line.startsWith(JobLine)) {
            const QStringList fields = line.mid(JobLine.size()).split(QLatin1Char('|'));
            files.insert(fields.value(0).toLongLong(), fields.mid(1));
        } else if (line.startsWith(SqueueEnd)) {
            const bool unknownIds = squeueErrors.join(QLatin1Char(' '))
                                            .contains(QLatin1String("Invalid job id specified"));
            // Unknown ids are jobs no longer listed; any other failure says nothing of them.
            squeueFailed = line.mid(SqueueEnd.size()) != QLatin1String("0") && !unknownIds;
        } else if (line.count(QLatin1Char('|')) == 2) {
            queued.insert(line.section(QLatin1Char('|'), 0, 0),
                          line.section(QLatin1Char('|'), 1, 1));
        } else if (!line.isEmpty() && line != AnswerEnd) {
            squeueErrors.append(line);
        }
    }
    if (squeueFailed) {
        fault(QStringLiteral("squeue failed: %1").arg(squeueErrors.join(QLatin1Char(' '))));
        return;
    }
    reachable();
    QList<qint64> vanished;
    for (auto found = files.cbegin(); found != files.cend(); ++found) {
        auto tracked = m_jobs.find(found.key());
        if (tracked == m_jobs.end() || tracked->ending || tracked->submitting)
            continue;
        const QString idFile = found->value(0).trimmed();
        const QString status = found->value(1).trimmed();
        if (tracked->job.remoteId.isEmpty()) {
            if (idFile.isEmpty()) {
                // An earlier launcher closed before sbatch answered, and it never took the job.
                refuse(found.key(), QStringLiteral("its submission did not finish"));
                continue;
            }
            adopt(*tracked, idFile);
            continue;
        }
        const QString state = queued.value(tracked->job.remoteId);
        if (QueuedStates.contains(state)) {
            report(*tracked, Jobs::State::Queued);
        } else if (RunningStates.contains(state)) {
            report(*tracked, Jobs::State::Running);
        } else if (!status.isEmpty()) {
            JobRunner::Outcome outcome = outcomeOfStatus(tracked->job, status);
            if (tracked->stopping && outcome.ending != JobRunner::Ending::Finished)
                outcome = JobRunner::Outcome{ JobRunner::Ending::Stopped, {}, {}, {}, -1, 0 };
            finish(found.key(), outcome);
        } else {
            vanished.append(found.key());
        }
    }
    if (!vanished.isEmpty())
        confirm(vanished);
}

void SlurmBackend::report(Tracked &tracked, Jobs::State state)
{
    if (tracked.stopping || tracked.job.state == state
        || (tracked.job.state == Jobs::State::Running && state == Jobs::State::Queued))
        return;
    tracked.job.state = state;
    Q_EMIT stateReported(tracked.job.id, state);
    if (state == Jobs::State::Running) {
        const int steps = int(SlurmScript::stepPrograms(tracked.job).size());
        Q_EMIT stepStarted(tracked.job.id, steps, tracked.job.outputFile);
    }
}

void SlurmBackend::confirm(const QList<qint64> &vanished)
{
    QStringList lines;
    for (qint64 id : vanished) {
        const Tracked &tracked = m_jobs[id];
        lines.append(QStringLiteral("printf '%1%2 '; scontrol -o show job %3 2>&1 | head -n 1")
                             .arg(JobLine, QString::number(id), q(tracked.job.remoteId)));
    }
    lines.append(QStringLiteral("echo ") + AnswerEnd);
    m_ssh->run(lines.join(QLatin1Char('\n')), {}, [this](const SshResult &result) {
        const QStringList lines = QString::fromUtf8(result.output).split(QLatin1Char('\n'));
        if (!result.fault.isEmpty() || !lines.contains(AnswerEnd)) {
            fault(result.fault.isEmpty() ? QStringLiteral("scontrol gave no answer")
                                         : result.fault);
            return;
        }
        for (const QString &line : lines) {
            if (!line.startsWith(JobLine))
                continue;
            const qint64 id = line.mid(JobLine.size()).section(QLatin1Char(' '), 0, 0).toLongLong();
            auto tracked = m_jobs.find(id);
            if (tracked == m_jobs.end() || tracked->ending)
                continue;
            if (const auto outcome = outcomeOfSlurm(line, tracked->stopping))
                finish(id, *outcome);
        }
    });
}

void SlurmBackend::finish(qint64 id, JobRunner::Outcome outcome)
{
    auto tracked = m_jobs.find(id);
    if (tracked == m_jobs.end() || tracked->ending)
        return;
    tracked->ending = true;
    fetchResults(tracked->job, [this, id, outcome](const QString &problem) mutable {
        const Job job = m_jobs.take(id).job;
        if (!problem.isEmpty()) {
            outcome.reason += (outcome.reason.isEmpty() ? QString() : QStringLiteral("; "))
                    + QStringLiteral("its results were not copied back");
            outcome.message += (outcome.message.isEmpty() ? QString() : QStringLiteral("\n\n"))
                    + QStringLiteral("The results were not copied back from %1: %2. Copy them "
                                     "from the Jobs tab once %1 can be reached.")
                              .arg(m_profile.name, problem);
        }
        if (outcome.ending == JobRunner::Ending::Failed) {
            QFile error(JobRunner::errorFileOf(job.outputFile));
            if (error.open(QIODevice::ReadOnly)) {
                error.seek(qMax<qint64>(0, error.size() - JobRunner::DetailsLimit));
                outcome.details = QString::fromLocal8Bit(error.readAll());
            }
        }
        Q_EMIT ended(id, outcome);
    });
}

void SlurmBackend::fetchResults(const Job &job, const std::function<void(const QString &)> &done)
{
    const qint64 id = job.id;
    const QString workDir = job.workDir;
    const QStringList sent = inputFiles(job);
    const QString output = QFileInfo(job.outputFile).fileName();
    m_ssh->run(QStringLiteral("cd -- %1 && ls -1A").arg(m_profile.jobDir(id)), {},
               [this, id, workDir, sent, output, done](const SshResult &result) {
                   if (!result.ok()) {
                       done(result.fault.isEmpty() ? result.error.trimmed() : result.fault);
                       return;
                   }
                   QStringList wanted;
                   for (const QString &name :
                        QString::fromUtf8(result.output).split(QLatin1Char('\n'))) {
                       const bool result = name.startsWith(output)
                               || name == QLatin1String("fort.9") || FormBody::takes(name);
                       const bool input = sent.contains(workDir + QLatin1Char('/') + name)
                               && name != QLatin1String("fort.9");
                       if (!name.isEmpty() && result && !input)
                           wanted.append(name);
                   }
                   auto next = std::make_shared<std::function<void()>>();
                   *next = [this, id, workDir, wanted, done, next]() mutable {
                       if (wanted.isEmpty()) {
                           done(QString());
                           *next = nullptr;
                           return;
                       }
                       const QString name = wanted.takeFirst();
                       m_ssh->download(remotePath(m_profile, id, name),
                                       workDir + QLatin1Char('/') + name,
                                       [name, done, next](const SshResult &result) {
                                           if (result.ok()) {
                                               (*next)();
                                               return;
                                           }
                                           done(QStringLiteral("%1: %2").arg(
                                                   name,
                                                   result.fault.isEmpty() ? result.error.trimmed()
                                                                          : result.fault));
                                           *next = nullptr;
                                       });
                   };
                   (*next)();
               });
}

void SlurmBackend::fetch(const Job &job)
{
    fetchResults(job, [this, id = job.id](const QString &problem) { Q_EMIT fetched(id, problem); });
}

void SlurmBackend::forget(const Job &job)
{
    m_ssh->run(QStringLiteral("rm -rf -- %1").arg(m_profile.jobDir(job.id)), {},
               [this, id = job.id](const SshResult &result) {
                   if (!result.ok())
                       Q_EMIT notice(
                               QStringLiteral("The folder of job %1 on %2 was not removed: %3")
                                       .arg(QString::number(id), m_profile.name,
                                            result.fault.isEmpty() ? result.error.trimmed()
                                                                   : result.fault));
               });
}

void SlurmBackend::follow(qint64 id)
{
    m_followed = m_jobs.contains(id) ? id : 0;
    if (m_followed)
        m_follow_timer->start(FollowIntervalMs);
    else
        m_follow_timer->stop();
}

void SlurmBackend::followOutput()
{
    const auto tracked = m_jobs.constFind(m_followed);
    if (tracked == m_jobs.cend()) {
        m_follow_timer->stop();
        return;
    }
    if (m_fetching_output || tracked->job.state != Jobs::State::Running)
        return;
    const QString local = tracked->job.outputFile;
    // The local copy's size is how much of the output came already, across restarts too.
    const qint64 offset = QFileInfo(local).size();
    m_fetching_output = true;
    m_ssh->run(QStringLiteral("tail -c +%1 -- %2 2>/dev/null | head -c %3")
                       .arg(QString::number(offset + 1),
                            remotePath(m_profile, m_followed, QFileInfo(local).fileName()),
                            QString::number(FollowChunk)),
               {}, [this, local, offset](const SshResult &result) {
                   m_fetching_output = false;
                   if (!result.fault.isEmpty() || result.output.isEmpty())
                       return;
                   QFile file(local);
                   // Written since the fetch began by another fetch or the end's copy: skip.
                   if (QFileInfo(local).size() != offset || !file.open(QIODevice::Append))
                       return;
                   file.write(result.output);
               });
}

void SlurmBackend::fault(const QString &fault)
{
    if (!m_unreachable_since.isValid())
        m_unreachable_since = QDateTime::currentDateTime();
    m_back_off = qMin(m_back_off * 2, MaxBackOff);
    Q_EMIT notice(QStringLiteral("Cluster %1 not reachable since %2: %3")
                          .arg(m_profile.name,
                               QLocale::system().toString(m_unreachable_since.time(),
                                                          QLocale::ShortFormat),
                               fault));
}

void SlurmBackend::reachable()
{
    m_back_off = 1;
    if (!m_unreachable_since.isValid())
        return;
    m_unreachable_since = QDateTime();
    Q_EMIT notice(QStringLiteral("Cluster %1 is reachable again").arg(m_profile.name));
}
