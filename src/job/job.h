// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef JOB_H
#define JOB_H

#include "job/jobrunner.h"
#include "job/portalidentity.h"

#include <QDateTime>
#include <QObject>
#include <QString>

namespace Jobs {
Q_NAMESPACE

// Submitted and Queued belong to jobs that a batch system runs later.
enum class State { Submitted, Queued, Running, Stopping, Finished, Failed, Stopped, Lost };
Q_ENUM_NS(State)

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
QString endText(const JobRunner::Outcome &outcome, const QString &elapsed);

// Where a job runs when it runs on the launcher's own computer.
inline QString thisComputer()
{
    return QString();
}

}

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
    // The running step's process group, and the boot of the system it runs in: a group
    // number of an earlier boot names no process of this one.
    qint64 processGroup = 0;
    QString bootId;
    // The batch system's id of a job it runs.
    QString remoteId;
};

#endif
