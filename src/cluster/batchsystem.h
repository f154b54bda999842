// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef BATCHSYSTEM_H
#define BATCHSYSTEM_H

#include "cluster/clusterprofile.h"
#include "job/job.h"

#include <QHash>
#include <QStringList>

#include <optional>

// What a batch system asks and answers: its commands as remote shell text and readers of
// their answers. It knows nothing of the connection that carries them.
class BatchSystem
{
public:
    virtual ~BatchSystem() = default;

    // The commands the cluster must have.
    virtual QStringList commands() const = 0;
    // The job's requests of the batch system, as lines at the top of its script.
    virtual QStringList scriptHeader(const ClusterProfile &profile, const Job &job) const = 0;
    // Succeeds where the batch system would take the job; says why not where it would not.
    virtual QString testCommand(const ClusterProfile &profile, const Job &job) const = 0;
    // Submits the script of the current folder and prints what idOf reads.
    virtual QString submitCommand(const QString &script) const = 0;
    virtual QString idOf(const QString &answer) const = 0;
    // Lists the jobs of these ids; queueOf reads its answer and exit status into the jobs
    // that wait or run, or gives nothing with *error set when the answer says nothing of them.
    virtual QString queueCommand(const QStringList &ids) const = 0;
    virtual std::optional<QHash<QString, Jobs::State>>
    queueOf(const QStringList &lines, int exitStatus, QString *error) const = 0;
    virtual QString cancelCommand(const QString &id) const = 0;
    // Asks how a job that left the queue ended; endOf reads the answer's one line, and gives
    // nothing while the batch system does not call the job ended.
    virtual QString endCommand(const QString &id) const = 0;
    virtual std::optional<JobOutcome> endOf(const QString &line, bool stopping) const = 0;
    // Asks what an ended job used, where the batch system keeps accounts; usageOf gives
    // nothing where the answer says nothing.
    virtual QString usageCommand(const QString &id) const = 0;
    virtual std::optional<JobUsage> usageOf(const QString &answer) const = 0;
};

#endif
