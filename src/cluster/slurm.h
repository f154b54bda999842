// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef SLURM_H
#define SLURM_H

#include "cluster/batchsystem.h"

// Slurm: sbatch, squeue, scancel and scontrol.
class Slurm : public BatchSystem
{
public:
    QStringList commands() const override;
    QStringList scriptHeader(const ClusterProfile &profile, const Job &job) const override;
    QString testCommand(const ClusterProfile &profile, const Job &job) const override;
    QString submitCommand(const QString &script) const override;
    QString idOf(const QString &answer) const override;
    QString queueCommand(const QStringList &ids) const override;
    std::optional<QHash<QString, Jobs::State>> queueOf(const QStringList &lines, int exitStatus,
                                                       QString *error) const override;
    QString cancelCommand(const QString &id) const override;
    QString endCommand(const QString &id) const override;
    std::optional<JobOutcome> endOf(const QString &line, bool stopping) const override;
    QString usageCommand(const QString &id) const override;
    std::optional<JobUsage> usageOf(const QString &answer) const override;
};

#endif
