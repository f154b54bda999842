// SPDX-License-Identifier: GPL-3.0-or-later
#include "job/jobqueue.h"

namespace JobQueue {

QList<qint64> due(const QList<Waiting> &waiting, int coresBusy, int jobsActive,
                  const Limits &limits, const QDateTime &now)
{
    QList<qint64> starting;
    for (const Waiting &job : waiting) {
        const bool coresFit = limits.cores <= 0 || coresBusy + job.cores <= limits.cores;
        const bool slotFree = limits.jobs <= 0 || jobsActive < limits.jobs;
        if (coresFit && slotFree) {
            starting.append(job.id);
            coresBusy += job.cores;
            ++jobsActive;
            continue;
        }
        // Without a free slot nothing later starts either; a job that has waited its share
        // keeps the cores that come free for itself.
        if (!slotFree || job.since.secsTo(now) >= qint64(limits.backfillMinutes) * 60)
            break;
    }
    return starting;
}

}
