// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef CLUSTERPROFILE_H
#define CLUSTERPROFILE_H

#include "job/packageconfig.h"

#include <QString>
#include <QStringList>

// A Slurm cluster reached over SSH, as the user described it.
struct ClusterProfile
{
    QString name;
    // An SSH destination: an alias of ~/.ssh/config or user@host.
    QString host;
    // Further options of the ssh command, split as a shell splits words ("-p 2222").
    QString sshOptions;
    // Where the job folders go, relative to the remote home unless absolute.
    QString remoteDir = QStringLiteral("moltra-jobs");
    // The package on the cluster; its executables have the names they have locally.
    QString packageDir;
    // What starts a parallel build inside the allocation.
    QString launcher = QStringLiteral("srun");
    QString partition;
    QString account;
    QString timeLimit = QStringLiteral("1:00:00");
    // Shell lines run before the program, such as "module load ...".
    QString setup;
    // Between two looks at the queue; the settings offer no less than MinPollSeconds.
    int pollSeconds = 60;
    static constexpr int MinPollSeconds = 15;
    // How many of the launcher's jobs are in the batch system at once; the others wait in the
    // launcher's queue.
    int maxSubmitted = 20;

    // Why jobs cannot be sent with this profile as it stands; empty when they can.
    QString problem() const;
    // The ssh options as words, or empty with *error set.
    QStringList sshOptionWords(QString *error) const;
    // The folder of the jobs as the remote shell takes it: "~/" is the home, where a
    // relative folder is anyway.
    QString folder() const;
    // The remote folder of one job, by its name, as a shell word.
    QString jobDir(const QString &name) const;
    // The package as jobs on the cluster find it: its folder there, the local executables'
    // names, and the cluster's launcher, which takes the cores from the allocation.
    PackageConfig packageConfig(const PackageConfig &local) const;
};

#endif
