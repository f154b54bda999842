// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef JOBPLANNER_H
#define JOBPLANNER_H

#include "job/jobplan.h"
#include "job/packageconfig.h"

// What Start runs for a deck: the chosen program's steps with the package's executables, a
// parallel build under the MPI launcher, with its serial build in its place where the parallel
// one turns out not to be installed.
struct PlannedJob
{
    JobPlan plan;
    // Why the job cannot start; empty when it can.
    QString refusal;
};

namespace JobPlanner {

PlannedJob plan(const PackageConfig &config, const QString &programName, const QString &deck,
                const QString &workDir, int cores);
// Said while a step runs the serial build in place of a parallel one.
QString fallbackText(const PlanStep &step);

}

#endif
