// SPDX-License-Identifier: GPL-3.0-or-later
#include "cluster/slurm.h"

#include "job/shellwords.h"

#include <QFileInfo>
#include <QRegularExpression>

namespace {

// Slurm's states of a job that waits or runs; any other is an end.
const QStringList QueuedStates = { QStringLiteral("PENDING"),     QStringLiteral("CONFIGURING"),
                                   QStringLiteral("REQUEUED"),    QStringLiteral("REQUEUE_HOLD"),
                                   QStringLiteral("REQUEUE_FED"), QStringLiteral("RESV_DEL_HOLD") };
const QStringList RunningStates
        = { QStringLiteral("RUNNING"), QStringLiteral("COMPLETING"), QStringLiteral("SUSPENDED"),
            QStringLiteral("STOPPED"), QStringLiteral("SIGNALING"),  QStringLiteral("STAGE_OUT"),
            QStringLiteral("RESIZING") };

QString quoted(const QStringList &words)
{
    QStringList list;
    for (const QString &word : words)
        list.append(ShellWords::quote(word));
    return list.join(QLatin1Char(' '));
}

// The options that sbatch gets from the profile, for the test and for the script alike.
QStringList sbatchOptions(const ClusterProfile &profile, const Job &job)
{
    QString name = QFileInfo(job.deck).completeBaseName();
    // A job name stays one word on one line of the script.
    name.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9._-]")), QStringLiteral("_"));
    QStringList options{ QStringLiteral("--job-name=") + name,
                         QStringLiteral("--ntasks=%1").arg(qMax(1, job.cores)) };
    if (!profile.timeLimit.isEmpty())
        options.append(QStringLiteral("--time=") + profile.timeLimit);
    if (!profile.partition.isEmpty())
        options.append(QStringLiteral("--partition=") + profile.partition);
    if (!profile.account.isEmpty())
        options.append(QStringLiteral("--account=") + profile.account);
    return options;
}

}

QStringList Slurm::commands() const
{
    return { QStringLiteral("sbatch"), QStringLiteral("squeue"), QStringLiteral("scancel") };
}

QStringList Slurm::scriptHeader(const ClusterProfile &profile, const Job &job) const
{
    QStringList lines;
    for (const QString &option : sbatchOptions(profile, job))
        lines.append(QStringLiteral("#SBATCH ") + option);
    lines.append(QStringLiteral("#SBATCH --output=slurm-%j.log"));
    return lines;
}

QString Slurm::testCommand(const ClusterProfile &profile, const Job &job) const
{
    return QStringLiteral("sbatch --test-only %1 --wrap=true")
            .arg(quoted(sbatchOptions(profile, job)));
}

QString Slurm::submitCommand(const QString &script) const
{
    return QStringLiteral("sbatch --parsable ") + ShellWords::quote(script);
}

QString Slurm::idOf(const QString &answer) const
{
    // "--parsable" adds the cluster's name after a semicolon on a federation.
    return answer.section(QLatin1Char(';'), 0, 0).trimmed();
}

QString Slurm::queueCommand(const QStringList &ids) const
{
    // A single id is given twice, as squeue fails on one unknown id alone but not on a list.
    QStringList list = ids;
    if (list.size() == 1)
        list.append(list.first());
    return QStringLiteral("squeue -h -j %1 -o '%i|%T|%r'")
            .arg(ShellWords::quote(list.join(QLatin1Char(','))));
}

std::optional<QHash<QString, Jobs::State>> Slurm::queueOf(const QStringList &lines, int exitStatus,
                                                          QString *error) const
{
    QHash<QString, Jobs::State> listed;
    QStringList errors;
    for (const QString &line : lines) {
        const QStringList fields = line.split(QLatin1Char('|'));
        if (fields.size() != 3) {
            if (!line.isEmpty())
                errors.append(line);
            continue;
        }
        // A state of neither kind is an end: the job's record or Slurm's says which.
        if (QueuedStates.contains(fields.at(1)))
            listed.insert(fields.at(0), Jobs::State::Queued);
        else if (RunningStates.contains(fields.at(1)))
            listed.insert(fields.at(0), Jobs::State::Running);
    }
    // Unknown ids are jobs no longer listed; any other failure says nothing of them.
    const QString said = errors.join(QLatin1Char(' '));
    if (exitStatus != 0 && !said.contains(QLatin1String("Invalid job id specified"))) {
        *error = QStringLiteral("squeue failed: %1").arg(said);
        return std::nullopt;
    }
    return listed;
}

QString Slurm::cancelCommand(const QString &id) const
{
    return QStringLiteral("scancel ") + ShellWords::quote(id);
}

QString Slurm::endCommand(const QString &id) const
{
    return QStringLiteral("scontrol -o show job %1 2>&1 | head -n 1").arg(ShellWords::quote(id));
}

std::optional<JobOutcome> Slurm::endOf(const QString &line, bool stopping) const
{
    static const QRegularExpression jobState(QStringLiteral("JobState=(\\w+)"));
    const QString state = jobState.match(line).captured(1);
    if (QueuedStates.contains(state) || RunningStates.contains(state))
        return std::nullopt;
    JobOutcome outcome;
    if (stopping || state == QLatin1String("CANCELLED")) {
        outcome.ending = Jobs::Ending::Stopped;
        if (!stopping)
            outcome.reason = QStringLiteral("cancelled on the cluster");
    } else if (state == QLatin1String("COMPLETED")) {
        outcome.exitCode = 0;
    } else if (state == QLatin1String("TIMEOUT")) {
        outcome.ending = Jobs::Ending::Failed;
        outcome.reason = QStringLiteral("reached its time limit on the cluster");
    } else if (!state.isEmpty()) {
        outcome.ending = Jobs::Ending::Failed;
        outcome.reason = QStringLiteral("ended on the cluster as %1").arg(state);
    } else {
        outcome.ending = Jobs::Ending::Unknown;
        outcome.reason = QStringLiteral("left the cluster's queue without an exit status");
    }
    outcome.message = outcome.reason;
    return outcome;
}

QString Slurm::usageCommand(const QString &id) const
{
    // Without accounting sacct fails: the job's own record tells what it can.
    return QStringLiteral("sacct -n -P -j %1 -o JobID,TotalCPU,MaxRSS").arg(ShellWords::quote(id));
}

std::optional<JobUsage> Slurm::usageOf(const QString &answer) const
{
    // TotalCPU as [DD-][HH:]MM:SS[.mmm]; MaxRSS in KiB with a suffix for larger units.
    static const QRegularExpression time(
            QStringLiteral("^(?:(\\d+)-)?(?:(\\d+):)?(\\d+):(\\d+(?:\\.\\d+)?)$"));
    static const QRegularExpression size(QStringLiteral("^(\\d+(?:\\.\\d+)?)([KMGT]?)$"));
    JobUsage usage;
    bool any = false;
    for (const QString &line : answer.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QStringList fields = line.split(QLatin1Char('|'));
        if (fields.size() < 3)
            continue;
        any = true;
        // The allocation's line totals its steps' CPU time; each step has its largest process.
        const QRegularExpressionMatch cpu = time.match(fields.at(1));
        if (!fields.at(0).contains(QLatin1Char('.')) && cpu.hasMatch())
            usage.cpuSeconds = cpu.captured(1).toDouble() * 86400
                    + cpu.captured(2).toDouble() * 3600 + cpu.captured(3).toDouble() * 60
                    + cpu.captured(4).toDouble();
        const QRegularExpressionMatch rss = size.match(fields.at(2));
        if (rss.hasMatch()) {
            const int scale = QStringLiteral("KMGT").indexOf(rss.captured(2));
            usage.peakKiB
                    = qMax(usage.peakKiB,
                           qint64(rss.captured(1).toDouble() * (1LL << (10 * qMax(0, scale)))));
        }
    }
    if (!any || !usage.isKnown())
        return std::nullopt;
    return usage;
}
