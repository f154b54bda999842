// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef JOBQUEUE_H
#define JOBQUEUE_H

#include <QDateTime>
#include <QList>

// Which of the jobs waiting for one place may start now: first come, first served, except
// that a later job may use cores that an earlier, larger one cannot, until that one has waited
// too long.
namespace JobQueue {

// Zero bounds nothing.
struct Limits
{
    int cores = 0;
    int jobs = 0;
    int backfillMinutes = 30;
};

struct Waiting
{
    qint64 id = 0;
    int cores = 1;
    // When it began to wait.
    QDateTime since;
};

// The ids due to start, in the order given (the queue's own): coresBusy and jobsActive are
// what the place runs already.
QList<qint64> due(const QList<Waiting> &waiting, int coresBusy, int jobsActive,
                  const Limits &limits, const QDateTime &now);

}

#endif
