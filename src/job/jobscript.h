// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef JOBSCRIPT_H
#define JOBSCRIPT_H

#include "job/jobplan.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// The one script that runs a job's plan wherever it runs: on this computer in its own process
// group, and under a batch system. It runs in the job's working directory, keeps the earlier
// output as a backup, runs the due steps and writes the job's record, which JobStatus reads.
namespace JobScript {

inline QString fileName()
{
    return QStringLiteral("moltra-job.sh");
}

struct Place
{
    // bash, the same everywhere: dash would write "Terminated" into a stopped step's errors.
    QString shell = QStringLiteral("/bin/bash");
    // Lines after the first, such as a batch system's options and the user's set-up.
    QStringList header;
    // Where the job's record goes, as the script's working directory sees it.
    QString statusFile;
    // A program that runs each step and writes what it used beside the record, where there
    // is one; without it, the shell's own accounting gives the CPU time.
    QString stepWrapper;
};

QByteArray render(const JobPlan &plan, const Place &place);

}

#endif
