// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef JOBBACKEND_H
#define JOBBACKEND_H

#include "job/job.h"

#include <QObject>

// What runs jobs in one place: this computer, or a batch system. It tells the manager what
// became of them; the manager decides their states.
class JobBackend : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // Starts the job, which the manager has recorded; its steps begin once the event loop
    // runs again, so that nothing reports on the job before this returns.
    virtual bool start(const Job &job, QString *error) = 0;
    // Asks the job to end; it ends when it is gone.
    virtual void stop(const Job &job) = 0;

Q_SIGNALS:
    void stepStarted(qint64 id, int step, const QString &outputFile);
    void groupStarted(qint64 id, qint64 group);
    void stopping(qint64 id);
    void ended(qint64 id, const JobRunner::Outcome &outcome);
};

#endif
