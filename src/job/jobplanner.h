// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef JOBPLANNER_H
#define JOBPLANNER_H

#include "job/jobrunner.h"
#include "job/packageconfig.h"

// What Start runs for a deck: the chosen program's steps with the package's executables, a
// parallel build under the MPI launcher where it is installed.
struct PlannedJob
{
    JobPlan plan;
    // Said while the job runs: a parallel build that is not installed runs serially.
    QString note;
    // Why the job cannot start; empty when it can.
    QString refusal;
};

namespace JobPlanner {

PlannedJob plan(const PackageConfig &config, const QString &programName, const QString &deck,
                const QString &workDir, int cores);

}

#endif
