// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef JOBSTATUS_H
#define JOBSTATUS_H

#include "job/job.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

// The record a job script keeps of its job, and what it says of the job's end: read the same
// way for every place a job runs.
namespace JobStatus {

inline QString fileName()
{
    return QStringLiteral("moltra.status");
}

struct Step
{
    int number = 0;
    // The serial build ran in place of a missing parallel one.
    bool fallback = false;
    // The earlier output was moved to its backup name.
    bool kept = false;
    QDateTime started;
    QDateTime ended;
    // The shell's exit status of the step, or -1 before it ended.
    int status = -1;
    // Why it did not run or what it did not leave: noinput, noexecutable, nolauncher, taken,
    // unkept, nofort9; empty when none.
    QString trouble;
};

struct Record
{
    // The file held a record of this layout; a cut or garbled one says nothing.
    bool valid = false;
    QList<Step> steps;
    // How the script ended the job ("finished", "failed", ...), empty while it has not.
    QString end;
    QDateTime ended;
    JobUsage usage;

    const Step *last() const { return steps.isEmpty() ? nullptr : &steps.last(); }
};

Record parse(const QByteArray &text);
Record read(const QString &path);

// How the job ended, from a record with an end, in the words the user reads. The failed
// step's error output is read from the working directory.
JobOutcome outcomeOf(const Record &record, const JobPlan &plan);
// The same for a job the user asked to stop: it was stopped, unless it finished first.
JobOutcome outcomeOf(const Record &record, const JobPlan &plan, bool stopping);
// The running step's program name, from the plan and whether its fallback runs.
QString programOf(const Step &step, const JobPlan &plan);

}

#endif
