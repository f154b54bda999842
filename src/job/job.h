// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef JOB_H
#define JOB_H

#include "job/jobplan.h"
#include "job/portalidentity.h"

#include <QDateTime>
#include <QObject>
#include <QString>

struct JobOutcome;

namespace Jobs {
Q_NAMESPACE

// Queued: waiting in the launcher's queue, or a batch system's. Submitted: handed to a batch
// system that has not yet said which.
enum class State { Submitted, Queued, Running, Stopping, Finished, Failed, Stopped, Lost };
Q_ENUM_NS(State)

// How a job ended. Unknown: it was seen to end, but nothing says how.
enum class Ending { Finished, Failed, NoFort9, FailedToStart, Stopped, Unknown };
Q_ENUM_NS(Ending)

// Whether the job still runs, or may: one that has not reached an end.
bool isActive(State state);
// The moves a job's state may make; an end is final.
bool canMove(State from, State to);
// The state's name, as the ledger keeps it and the Jobs tab shows it.
QString stateName(State state);
State stateFromName(const QString &name, bool *ok);

// "m:ss", or "h:mm:ss" from an hour on.
QString durationText(qint64 seconds);
// What the status line says of a job that ended after that long.
QString endText(const JobOutcome &outcome, const QString &elapsed);

// Where a job runs when it runs on the launcher's own computer.
inline QString thisComputer()
{
    return QString();
}

}

// What a job used: CPU time of all its processes, the largest one's memory. Negative where
// it is not known.
struct JobUsage
{
    double cpuSeconds = -1;
    qint64 peakKiB = -1;

    bool isKnown() const { return cpuSeconds >= 0 || peakKiB >= 0; }
    // CPU time against what the cores could have given in the wall time; negative if unknown.
    double efficiency(int cores, double wallSeconds) const;
    // "CPU 1:02, 87 % of 2 cores, 312 MiB", with "not known" for what is not.
    QString text(int cores, double wallSeconds) const;
};

// How a job ended, as its backend learnt it.
struct JobOutcome
{
    Jobs::Ending ending = Jobs::Ending::Finished;
    // Short, for a status line: "moltra exited with code 3", or the program not started.
    QString reason;
    // For a message box; empty when the job ended well or was stopped.
    QString message;
    // The end of the failed step's error output, for the message box's details.
    QString details;
    // Of the step that ended the job: its exit code, or the signal that killed it.
    int exitCode = -1;
    int signal = 0;
    // When its steps began and it ended, by the clock of the computer it ran on; invalid
    // where not known.
    QDateTime started;
    QDateTime ended;
    JobUsage usage;
};

// One run of a program on a deck: what was asked for, where it runs and how it went.
struct Job
{
    // The ledger's id; the jobs of a launcher without a ledger are counted from 1 as well.
    qint64 id = 0;
    QString deck;
    QString workDir;
    QString title;
    QString program;
    int cores = 1;
    JobPlan plan;
    PortalIdentity portal;
    // Jobs::thisComputer(), or a cluster's name.
    QString where = Jobs::thisComputer();
    Jobs::State state = Jobs::State::Running;
    // How it ended: the exit code or signal of the step that ended it where known.
    int exitCode = -1;
    int signal = 0;
    QString reason;
    QDateTime started;
    QDateTime ended;
    QString outputFile;
    QString errorFile;
    // The step that runs, and its program's name: not kept once the launcher closes.
    int step = 0;
    QString stepProgram;
    // The running step's process group, and the boot of the system it runs in: a group
    // number of an earlier boot names no process of this one.
    qint64 processGroup = 0;
    QString bootId;
    // The batch system's id of a job it runs, and its folder there.
    QString remoteId;
    QString remoteFolder;
    JobUsage usage;
    // Its place in the launcher's queue while it waits there: the lower, the sooner.
    qint64 queueOrder = 0;

    // Queued by the launcher, not yet handed to where it runs; while it waits, started says
    // since when.
    bool waits() const { return state == Jobs::State::Queued && remoteId.isEmpty(); }
};

#endif
