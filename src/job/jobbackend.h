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
    // Takes on a job that an earlier launcher started and that has not ended.
    virtual void watch(const Job &job) = 0;
    // The job whose output the user watches, or 0: a backend that must fetch the output from
    // elsewhere fetches that job's more often.
    virtual void follow(qint64 id) { Q_UNUSED(id) }
    // Copies the results of an ended job into its working directory again.
    virtual void fetch(const Job &job) { Q_UNUSED(job) }
    // The job is forgotten: what the backend keeps of it elsewhere goes too.
    virtual void forget(const Job &job) { Q_UNUSED(job) }

Q_SIGNALS:
    // The step runs the program of that name, which writes the output file.
    void stepStarted(qint64 id, int step, const QString &program, const QString &outputFile);
    void groupStarted(qint64 id, qint64 group);
    void stopping(qint64 id);
    void ended(qint64 id, const JobOutcome &outcome);
    // A batch system's word on a job that has not ended: queued, or running.
    void stateReported(qint64 id, Jobs::State state);
    void remoteIdAssigned(qint64 id, const QString &remoteId);
    // The results of an ended job were copied again; the problem is empty when they came.
    void fetched(qint64 id, const QString &problem);
    // Something the user should know of the place the jobs run, such as a lost connection.
    void notice(const QString &text);
};

#endif
