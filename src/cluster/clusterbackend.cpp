// SPDX-License-Identifier: GPL-3.0-or-later
#include "cluster/clusterbackend.h"

#include "cluster/slurm.h"
#include "job/jobscript.h"
#include "job/programcatalog.h"
#include "job/shellwords.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

namespace {

// Marks in the answer of one look at the cluster, which holds the queue's answer and each
// job's id and record.
const QString QueueStart = QStringLiteral("moltra-queue");
const QString QueueEnd = QStringLiteral("moltra-queue-end ");
const QString JobLine = QStringLiteral("moltra-job ");
const QString StatusLine = QStringLiteral("moltra-status ");
const QString AnswerEnd = QStringLiteral("moltra-end");
const QString IdFile = QStringLiteral("moltra.jobid");
// Exit status of a remote command that refused the job, with its reason as its output.
constexpr int Refused = 3;

QString q(const QString &word)
{
    return ShellWords::quote(word);
}

QString problemOf(const SshResult &result)
{
    return result.fault.isEmpty() ? result.error.trimmed() : result.fault;
}

// The earlier outputs of the job's steps and their error outputs go to their backup names, as
// the job script moves them where it runs; an output name taken by a folder refuses the job,
// in the job script's words.
QString keepEarlierOutputs(const Job &job)
{
    for (const PlanStep &step : job.plan.steps) {
        // The fort.9 that goes with the job skips the step there too.
        if (step.onlyWithoutFort9 && QFileInfo::exists(job.workDir + QStringLiteral("/fort.9")))
            continue;
        const QString output = job.workDir + QLatin1Char('/') + step.output;
        if (QFileInfo(output).isDir()) {
            JobStatus::Record record;
            record.valid = true;
            record.end = QStringLiteral("refused");
            record.steps.append({ step.number, false, false, {}, {}, -1, QStringLiteral("taken") });
            return JobStatus::outcomeOf(record, job.plan).message;
        }
        if (QFileInfo(output).size() == 0)
            continue;
        for (const QString &file : { output, JobFiles::errorFileOf(output) }) {
            const QString backup = JobFiles::backupOf(file);
            QFile::remove(backup);
            if (QFile::exists(file) && !QFile::rename(file, backup))
                return QStringLiteral("The earlier output %1 cannot be kept as %2.")
                        .arg(file, backup);
        }
    }
    return QString();
}

}

ClusterBackend::ClusterBackend(const ClusterProfile &profile, const SshConfig &ssh, QObject *parent,
                               std::unique_ptr<BatchSystem> batch)
    : JobBackend(parent)
    , m_profile(profile)
    , m_batch(batch ? std::move(batch) : std::make_unique<Slurm>())
    , m_poll_timer(new QTimer(this))
    , m_follow_timer(new QTimer(this))
{
    QString error;
    m_ssh = new SshClient(ssh, profile.host, profile.sshOptionWords(&error), this);
    m_poll_timer->setSingleShot(true);
    connect(m_poll_timer, &QTimer::timeout, this, &ClusterBackend::poll);
    connect(m_follow_timer, &QTimer::timeout, this, &ClusterBackend::followOutput);
}

ClusterBackend::~ClusterBackend() = default;

QString ClusterBackend::folderName(const Job &job)
{
    return job.remoteFolder.isEmpty() ? QString::number(job.id) : job.remoteFolder;
}

QString ClusterBackend::remotePath(const Job &job, const QString &name) const
{
    return q(QStringLiteral("%1/%2/%3").arg(m_profile.folder(), folderName(job), name));
}

bool ClusterBackend::start(const Job &job, QString *error)
{
    *error = m_profile.problem();
    if (!error->isEmpty())
        return false;
    if (!QFileInfo(job.deck).isReadable()) {
        *error = QStringLiteral("The input file %1 cannot be read.").arg(job.deck);
        return false;
    }
    *error = keepEarlierOutputs(job);
    if (!error->isEmpty())
        return false;
    Tracked tracked{ job, true, false, false, {}, 0 };
    tracked.job.state = Jobs::State::Submitted;
    m_jobs.insert(job.id, tracked);

    QStringList lines{ QStringLiteral("refuse() { echo \"$1\"; exit %1; }").arg(Refused) };
    for (const QString &command : m_batch->commands())
        lines.append(QStringLiteral("command -v %1 >/dev/null || refuse %2")
                             .arg(command, q(command + QStringLiteral(" is not installed"))));
    for (const PlanStep &step : job.plan.steps) {
        // A missing parallel build is replaced by its serial one when the job runs.
        QString test = QStringLiteral("test -x %1").arg(q(step.executable));
        if (!step.fallbackExecutable.isEmpty())
            test += QStringLiteral(" || test -x %1").arg(q(step.fallbackExecutable));
        lines.append(QStringLiteral("%1 || refuse %2")
                             .arg(test,
                                  q(QStringLiteral("there is no executable file %1 in the "
                                                   "package directory")
                                            .arg(step.executable))));
    }
    lines.append(QStringLiteral("answer=$(%1 2>&1) || refuse \"the cluster refused the job: "
                                "$answer\"")
                         .arg(m_batch->testCommand(m_profile, job)));
    lines.append(QStringLiteral("mkdir -p -- %1 || refuse %2")
                         .arg(q(m_profile.folder()),
                              q(QStringLiteral("the folder %1 cannot be made")
                                        .arg(m_profile.remoteDir))));
    // An existing folder holds another job's files.
    lines.append(QStringLiteral("mkdir -- %1 2>/dev/null || refuse %2")
                         .arg(m_profile.jobDir(folderName(job)),
                              q(QStringLiteral("the job folder %1/%2 exists already")
                                        .arg(m_profile.remoteDir, folderName(job)))));
    const qint64 id = job.id;
    m_ssh->run(lines.join(QLatin1Char('\n')), {},
               [this, id, files = job.plan.inputFiles()](const SshResult &result) {
                   if (!result.fault.isEmpty())
                       refuse(id,
                              QStringLiteral("%1 is not reachable: %2")
                                      .arg(m_profile.name, result.fault));
                   else if (result.exitCode != 0)
                       refuse(id,
                              QString::fromUtf8(result.output).trimmed()
                                      + QString(result.exitCode == Refused
                                                        ? QString()
                                                        : result.error.trimmed()));
                   else
                       send(id, files);
               });
    return true;
}

void ClusterBackend::refuse(qint64 id, const QString &problem)
{
    m_jobs.remove(id);
    JobOutcome outcome;
    outcome.ending = Jobs::Ending::FailedToStart;
    outcome.reason = QStringLiteral("not submitted to %1").arg(m_profile.name);
    outcome.message
            = QStringLiteral("The job was not submitted to %1: %2.").arg(m_profile.name, problem);
    Q_EMIT ended(id, outcome);
}

void ClusterBackend::send(qint64 id, QStringList files)
{
    const auto tracked = m_jobs.constFind(id);
    if (tracked == m_jobs.cend())
        return;
    if (files.isEmpty()) {
        submit(id);
        return;
    }
    const QString file = files.takeFirst();
    m_ssh->upload(file, remotePath(tracked->job, QFileInfo(file).fileName()),
                  [this, id, file, files](const SshResult &result) {
                      if (result.ok())
                          send(id, files);
                      else
                          refuse(id,
                                 QStringLiteral("%1 could not be copied: %2")
                                         .arg(file, problemOf(result)));
                  });
}

void ClusterBackend::submit(qint64 id)
{
    auto tracked = m_jobs.find(id);
    if (tracked == m_jobs.end())
        return;
    if (tracked->stopping) {
        // Stopped before it went to the batch system: nothing is left to cancel.
        m_jobs.erase(tracked);
        JobOutcome outcome;
        outcome.ending = Jobs::Ending::Stopped;
        Q_EMIT ended(id, outcome);
        return;
    }
    const Job &job = tracked->job;
    JobScript::Place place;
    place.header = m_batch->scriptHeader(m_profile, job);
    if (!m_profile.setup.trimmed().isEmpty())
        place.header.append(m_profile.setup.trimmed());
    place.statusFile = JobStatus::fileName();
    // The guard file is made once: a second submission of the same job is refused.
    const QString command
            = QStringLiteral("cd -- %1 && (set -o noclobber && : > moltra.submitted) 2>/dev/null "
                             "|| { echo 'the job was submitted already'; exit %2; }\n"
                             "cat > %3 && %4 > %5.new && mv %5.new %5 && cat %5")
                      .arg(m_profile.jobDir(folderName(job)), QString::number(Refused),
                           JobScript::fileName(), m_batch->submitCommand(JobScript::fileName()),
                           IdFile);
    m_ssh->run(command, JobScript::render(job.plan, place), [this, id](const SshResult &result) {
        auto tracked = m_jobs.find(id);
        if (tracked == m_jobs.end())
            return;
        tracked->submitting = false;
        if (!result.fault.isEmpty()) {
            // Whether the batch system took it is read from the job's folder at the next look.
            fault(result.fault);
            schedulePoll();
            return;
        }
        const QString remoteId = m_batch->idOf(QString::fromUtf8(result.output));
        if (result.exitCode != 0 || remoteId.isEmpty()) {
            refuse(id,
                   QStringLiteral("it was refused: %1")
                           .arg((QString::fromUtf8(result.output) + result.error).trimmed()));
            return;
        }
        adopt(*tracked, remoteId);
        schedulePoll();
        followOutput();
    });
}

void ClusterBackend::adopt(Tracked &tracked, const QString &remoteId)
{
    tracked.job.remoteId = remoteId;
    Q_EMIT remoteIdAssigned(tracked.job.id, remoteId);
    // Stop was pressed before the batch system named the job.
    if (tracked.stopping)
        cancel(tracked);
}

void ClusterBackend::stop(const Job &job)
{
    auto tracked = m_jobs.find(job.id);
    if (tracked == m_jobs.end() || tracked->ending)
        return;
    if (!tracked->stopping) {
        tracked->stopping = true;
        Q_EMIT stopping(job.id);
    }
    if (!tracked->job.remoteId.isEmpty())
        cancel(*tracked);
}

void ClusterBackend::cancel(Tracked &tracked)
{
    tracked.cancelled.start();
    m_ssh->run(m_batch->cancelCommand(tracked.job.remoteId), {}, [this](const SshResult &result) {
        if (!result.fault.isEmpty())
            fault(result.fault);
        schedulePoll();
    });
}

void ClusterBackend::watch(const Job &job)
{
    m_jobs.insert(job.id, { job, false, job.state == Jobs::State::Stopping, false, {}, 0 });
    schedulePoll();
}

void ClusterBackend::schedulePoll()
{
    if (m_jobs.isEmpty() || m_polling)
        return;
    // Sites ask for minutes between looks at the queue, longer after faults; a cancelled job
    // is looked for every second until it has left the queue.
    qint64 interval = qint64(m_profile.pollSeconds) * 1000 * m_back_off;
    for (const Tracked &tracked : std::as_const(m_jobs)) {
        if (tracked.cancelled.isValid() && !tracked.cancelled.hasExpired(CancelWatchMs))
            interval = CancelPollMs;
    }
    const qint64 due
            = m_last_poll.isValid() ? qMax<qint64>(0, interval - m_last_poll.elapsed()) : 0;
    if (!m_poll_timer->isActive() || m_poll_timer->remainingTime() > due)
        m_poll_timer->start(int(due));
}

void ClusterBackend::poll()
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
        lines.append(QStringLiteral("echo \"%1%2 $(cat -- %3 2>/dev/null)\"")
                             .arg(JobLine, QString::number(tracked.job.id),
                                  remotePath(tracked.job, IdFile)));
        lines.append(QStringLiteral("sed 's/^/%1/' -- %2 2>/dev/null")
                             .arg(StatusLine, remotePath(tracked.job, JobStatus::fileName())));
    }
    if (lines.isEmpty())
        return;
    // One request to the controller for all the cluster's jobs.
    if (!ids.isEmpty())
        lines.prepend(QStringLiteral("echo %1; %2 2>&1; echo \"%3$?\"")
                              .arg(QueueStart, m_batch->queueCommand(ids), QueueEnd));
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

void ClusterBackend::pollAnswered(const SshResult &result)
{
    const QStringList lines = QString::fromUtf8(result.output).split(QLatin1Char('\n'));
    if (!result.fault.isEmpty() || !lines.contains(AnswerEnd)) {
        fault(result.fault.isEmpty()
                      ? QStringLiteral("its answer was incomplete: %1")
                                .arg((QString::fromUtf8(result.output) + result.error).trimmed())
                      : result.fault);
        return;
    }
    QStringList queueLines;
    std::optional<QHash<QString, Jobs::State>> queue = QHash<QString, Jobs::State>();
    QList<QPair<qint64, QString>> ids;
    QHash<qint64, QByteArray> records;
    bool inQueue = false;
    QString queueError;
    for (const QString &line : lines) {
        if (line == QueueStart) {
            inQueue = true;
        } else if (inQueue && line.startsWith(QueueEnd)) {
            inQueue = false;
            queue = m_batch->queueOf(queueLines, line.mid(QueueEnd.size()).toInt(), &queueError);
        } else if (inQueue) {
            queueLines.append(line);
        } else if (line.startsWith(JobLine)) {
            const QString rest = line.mid(JobLine.size());
            ids.append({ rest.section(QLatin1Char(' '), 0, 0).toLongLong(),
                         rest.section(QLatin1Char(' '), 1).trimmed() });
        } else if (line.startsWith(StatusLine) && !ids.isEmpty()) {
            records[ids.last().first] += line.mid(StatusLine.size()).toUtf8() + '\n';
        }
    }
    if (!queue) {
        fault(queueError);
        return;
    }
    reachable();
    QList<qint64> vanished;
    for (const auto &[id, idFile] : std::as_const(ids)) {
        auto tracked = m_jobs.find(id);
        if (tracked == m_jobs.end() || tracked->ending || tracked->submitting)
            continue;
        if (tracked->job.remoteId.isEmpty()) {
            if (idFile.isEmpty())
                // An earlier launcher closed before the batch system answered, and it never
                // took the job.
                refuse(id, QStringLiteral("its submission did not finish"));
            else
                adopt(*tracked, idFile);
            continue;
        }
        if (readRecord(*tracked, JobStatus::parse(records.value(id))))
            continue;
        const auto listed = queue->constFind(tracked->job.remoteId);
        if (listed != queue->cend())
            report(*tracked, *listed);
        else
            vanished.append(id);
    }
    if (!vanished.isEmpty())
        confirm(vanished);
}

bool ClusterBackend::readRecord(Tracked &tracked, const JobStatus::Record &record)
{
    const Job &job = tracked.job;
    for (; tracked.stepsSeen < record.steps.size(); ++tracked.stepsSeen) {
        const JobStatus::Step &step = record.steps.at(tracked.stepsSeen);
        const PlanStep *planned = job.plan.step(step.number);
        if (!step.started.isValid() || !planned)
            break;
        report(tracked, Jobs::State::Running);
        tracked.job.outputFile = job.workDir + QLatin1Char('/') + planned->output;
        Q_EMIT stepStarted(job.id, step.number, JobStatus::programOf(step, job.plan),
                           tracked.job.outputFile);
    }
    if (record.end.isEmpty())
        return false;
    const bool stopping = tracked.stopping;
    finish(job.id, [record, stopping](const Job &ended) {
        return JobStatus::outcomeOf(record, ended.plan, stopping);
    });
    return true;
}

void ClusterBackend::report(Tracked &tracked, Jobs::State state)
{
    if (tracked.stopping || tracked.job.state == state
        || (tracked.job.state == Jobs::State::Running && state == Jobs::State::Queued))
        return;
    tracked.job.state = state;
    Q_EMIT stateReported(tracked.job.id, state);
}

void ClusterBackend::confirm(const QList<qint64> &vanished)
{
    QStringList lines;
    for (qint64 id : vanished) {
        const Tracked &tracked = m_jobs[id];
        lines.append(QStringLiteral("printf '%1%2 '; %3")
                             .arg(JobLine, QString::number(id),
                                  m_batch->endCommand(tracked.job.remoteId)));
    }
    lines.append(QStringLiteral("echo ") + AnswerEnd);
    m_ssh->run(lines.join(QLatin1Char('\n')), {}, [this](const SshResult &result) {
        const QStringList lines = QString::fromUtf8(result.output).split(QLatin1Char('\n'));
        if (!result.fault.isEmpty() || !lines.contains(AnswerEnd)) {
            fault(result.fault.isEmpty() ? QStringLiteral("the end of a job could not be asked")
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
            if (const auto outcome = m_batch->endOf(line, tracked->stopping))
                finish(id, [outcome](const Job &) { return *outcome; });
        }
    });
}

void ClusterBackend::finish(qint64 id, const std::function<JobOutcome(const Job &)> &outcomeOf)
{
    auto tracked = m_jobs.find(id);
    if (tracked == m_jobs.end() || tracked->ending)
        return;
    tracked->ending = true;
    // The batch system's accounts, where it keeps them, know what the job used on every node.
    m_ssh->run(m_batch->usageCommand(tracked->job.remoteId), {},
               [this, id, outcomeOf](const SshResult &result) {
                   const auto tracked = m_jobs.constFind(id);
                   if (tracked == m_jobs.cend())
                       return;
                   const std::optional<JobUsage> usage = result.ok()
                           ? m_batch->usageOf(QString::fromUtf8(result.output))
                           : std::nullopt;
                   copyHome(id, [outcomeOf, usage](const Job &job) {
                       JobOutcome outcome = outcomeOf(job);
                       if (usage)
                           outcome.usage = *usage;
                       return outcome;
                   });
               });
}

void ClusterBackend::copyHome(qint64 id, const std::function<JobOutcome(const Job &)> &outcomeOf)
{
    fetchResults(m_jobs.value(id).job, [this, id, outcomeOf](const QString &problem) {
        const Job job = m_jobs.take(id).job;
        JobOutcome outcome = outcomeOf(job);
        if (!problem.isEmpty()) {
            outcome.reason += (outcome.reason.isEmpty() ? QString() : QStringLiteral("; "))
                    + QStringLiteral("its results were not copied back");
            outcome.message += (outcome.message.isEmpty() ? QString() : QStringLiteral("\n\n"))
                    + QStringLiteral("The results were not copied back from %1: %2. Copy them "
                                     "from the Jobs tab once %1 can be reached.")
                              .arg(m_profile.name, problem);
        }
        Q_EMIT ended(id, outcome);
    });
}

void ClusterBackend::fetchResults(const Job &job, const std::function<void(const QString &)> &done)
{
    const QString workDir = job.workDir;
    const QStringList sent = job.plan.inputFiles();
    // An empty error output says nothing: it stays behind.
    const QString list = QStringLiteral("cd -- %1 && for f in *; do [ -f \"$f\" ] || continue; "
                                        "case $f in *.err) [ -s \"$f\" ] || continue;; esac; "
                                        "printf '%s\\n' \"$f\"; done")
                                 .arg(m_profile.jobDir(folderName(job)));
    m_ssh->run(list, {}, [this, job, workDir, sent, done](const SshResult &result) {
        if (!result.ok()) {
            done(problemOf(result));
            return;
        }
        QStringList wanted;
        for (const QString &name : QString::fromUtf8(result.output).split(QLatin1Char('\n'))) {
            bool output = false;
            for (const PlanStep &step : job.plan.steps)
                output = output || name.startsWith(step.output);
            const bool input = sent.contains(workDir + QLatin1Char('/') + name)
                    && name != QLatin1String("fort.9");
            if (!name.isEmpty() && (output || ProgramCatalog::isJobFile(name)) && !input)
                wanted.append(name);
        }
        auto next = std::make_shared<std::function<void()>>();
        *next = [this, job, workDir, wanted, done, next]() mutable {
            if (wanted.isEmpty()) {
                done(QString());
                *next = nullptr;
                return;
            }
            const QString name = wanted.takeFirst();
            m_ssh->download(remotePath(job, name), workDir + QLatin1Char('/') + name,
                            [name, done, next](const SshResult &result) {
                                if (result.ok()) {
                                    (*next)();
                                    return;
                                }
                                done(QStringLiteral("%1: %2").arg(name, problemOf(result)));
                                *next = nullptr;
                            });
        };
        (*next)();
    });
}

void ClusterBackend::fetch(const Job &job)
{
    fetchResults(job, [this, id = job.id](const QString &problem) { Q_EMIT fetched(id, problem); });
}

void ClusterBackend::forget(const Job &job)
{
    m_ssh->run(
            QStringLiteral("rm -rf -- %1").arg(m_profile.jobDir(folderName(job))), {},
            [this, id = job.id](const SshResult &result) {
                if (!result.ok())
                    Q_EMIT notice(
                            QStringLiteral("The folder of job %1 on %2 was not removed: %3")
                                    .arg(QString::number(id), m_profile.name, problemOf(result)));
            });
}

void ClusterBackend::follow(qint64 id)
{
    m_followed = m_jobs.contains(id) ? id : 0;
    if (m_followed)
        m_follow_timer->start(FollowIntervalMs);
    else
        m_follow_timer->stop();
}

void ClusterBackend::followOutput()
{
    const auto tracked = m_jobs.constFind(m_followed);
    if (tracked == m_jobs.cend()) {
        m_follow_timer->stop();
        return;
    }
    if (m_fetching_output || tracked->job.remoteId.isEmpty() || tracked->ending)
        return;
    const QString local = tracked->job.outputFile;
    // The local copy's size is how much of the output came already, across restarts too.
    const qint64 offset = QFileInfo(local).size();
    m_fetching_output = true;
    const qint64 id = m_followed;
    // The record comes first, then the output's new bytes.
    m_ssh->run(QStringLiteral("cat -- %1 2>/dev/null; echo %2; tail -c +%3 -- %4 2>/dev/null "
                              "| head -c %5")
                       .arg(remotePath(tracked->job, JobStatus::fileName()), AnswerEnd,
                            QString::number(offset + 1),
                            remotePath(tracked->job, QFileInfo(local).fileName()),
                            QString::number(FollowChunk)),
               {}, [this, id, local, offset](const SshResult &result) {
                   m_fetching_output = false;
                   const QByteArray mark = AnswerEnd.toUtf8() + '\n';
                   qsizetype split = -1;
                   if (result.output.startsWith(mark))
                       split = 0;
                   else if (const qsizetype at = result.output.indexOf('\n' + mark); at >= 0)
                       split = at + 1;
                   if (!result.fault.isEmpty() || split < 0)
                       return;
                   const QByteArray bytes = result.output.mid(split + mark.size());
                   QFile file(local);
                   // Written since the fetch began by another fetch or the end's copy: skip.
                   if (!bytes.isEmpty() && QFileInfo(local).size() == offset
                       && file.open(QIODevice::Append))
                       file.write(bytes);
                   file.close();
                   auto tracked = m_jobs.find(id);
                   if (tracked != m_jobs.end() && !tracked->ending)
                       readRecord(*tracked, JobStatus::parse(result.output.left(split)));
               });
}

void ClusterBackend::fault(const QString &fault)
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

void ClusterBackend::reachable()
{
    m_back_off = 1;
    if (!m_unreachable_since.isValid())
        return;
    m_unreachable_since = QDateTime();
    Q_EMIT notice(QStringLiteral("Cluster %1 is reachable again").arg(m_profile.name));
}
