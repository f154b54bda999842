// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef SLURMSCRIPT_H
#define SLURMSCRIPT_H

#include "cluster/clusterprofile.h"
#include "job/job.h"
#include "job/packageconfig.h"

// The remote side of a cluster job: shell text with every path and name quoted.
namespace SlurmScript {

// Files the job script leaves in the job's folder: the exit status of the step that ended the
// job ("2 0": step 2, status 0; "1 nofort9") and the batch system's id once it took the job.
inline QString statusFile()
{
    return QStringLiteral("moltra.status");
}
inline QString idFile()
{
    return QStringLiteral("moltra.jobid");
}
// Exit status of a remote command that refused the job, with its reason as its output.
constexpr int Refused = 3;

// The names of the job's programs, by step: one for a MOLTRA job, two for an EVALIX job.
QStringList stepPrograms(const Job &job);
// Checks the cluster can take the job (Slurm's commands, the executables, the options that
// sbatch would refuse) and makes its folder, which must be new.
QString prepare(const ClusterProfile &profile, const PackageConfig &package, const Job &job);
// Writes the job script from standard input and submits it, once only; prints the id.
QString submit(const ClusterProfile &profile, const Job &job);
// The script itself, which runs the job's steps as a local job runs them.
QByteArray jobScript(const ClusterProfile &profile, const PackageConfig &package, const Job &job);

}

#endif
