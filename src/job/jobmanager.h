// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef JOBMANAGER_H
#define JOBMANAGER_H

#include "job/job.h"
#include "job/jobqueue.h"

#include <QHash>
#include <QList>
#include <QObject>

#include <functional>
#include <memory>

class JobBackend;
class JobLedger;
class LocalBackend;
class QLockFile;
class QTemporaryDir;

// Owns the jobs, the backends that run them and the ledger that remembers them. Every change
// of a job's state goes through here, is recorded and is told.
class JobManager : public QObject
{
    Q_OBJECT

public:
    // Said of a job that ran while no launcher watched it.
    static QString lostReason() { return QStringLiteral("the launcher ended while it ran"); }

    // An empty ledger path keeps the jobs of this session only, as does a ledger that another
    // launcher holds: one launcher at a time runs its jobs, on one computer (SQLite cannot
    // share a file between computers). The step wrapper, where given, tells what each step on
    // this computer used.
    explicit JobManager(const QString &ledgerPath, QObject *parent = nullptr,
                        const QString &stepWrapper = QString());
    ~JobManager() override;

    // Why the ledger is not used, or what was done to it; empty when all is well.
    QString ledgerProblem() const;
    // Oldest first.
    const QList<Job> &jobs() const { return m_jobs; }
    const Job *find(qint64 id) const;
    LocalBackend *local() const { return m_local; }
    // Runs the jobs of that place from now on, the unfinished ones of the ledger among them;
    // takes the backend over and drops the one it replaces.
    void setBackend(const QString &where, JobBackend *backend);
    JobBackend *backend(const QString &where) const;

    // What a place runs at once: this computer's cores, a cluster's jobs in its queue. Jobs
    // beyond it wait in the launcher's queue.
    void setLimits(const QString &where, const JobQueue::Limits &limits);
    JobQueue::Limits limits(const QString &where) const;

    // Records the job and starts it, or queues it where its place is full; gives its id, or 0
    // and why it was refused.
    qint64 start(Job job, QString *error);
    // A queued job ends at once, without running.
    void stop(qint64 id);
    // A queued job goes before, or after, every other job waiting for its place.
    void moveInQueue(qint64 id, bool toFront);
    // The jobs this launcher runs here go on once it is gone, for the next one to watch.
    void leaveRunning();
    // The job whose output the user watches, or 0.
    void follow(qint64 id);
    // Copies the results of an ended job that ran elsewhere into its working directory again.
    void fetch(qint64 id);
    // Forgets an ended job: its files stay.
    bool remove(qint64 id);
    // The jobs of a folder that the user moved are found in its new place.
    void folderMoved(const QString &from, const QString &to);

Q_SIGNALS:
    void jobAdded(qint64 id);
    void jobChanged(qint64 id);
    void jobStateChanged(qint64 id, Jobs::State state);
    void stepStarted(qint64 id, int step, const QString &outputFile);
    void jobEnded(qint64 id, const JobOutcome &outcome);
    // Around forgetting the job at this index of jobs().
    void jobAboutToBeRemoved(int index);
    void jobRemoved(qint64 id);
    // Once, when the ledger stops being usable while the launcher runs.
    void ledgerFailed(const QString &problem);
    // Results of a job that ran elsewhere were copied again; the problem is empty when they came.
    void jobFetched(qint64 id, const QString &problem);
    // News of a place where jobs run, such as a cluster that cannot be reached.
    void backendNotice(const QString &text);

private:
    // Locks the ledger for this launcher, or says in m_lock_problem who holds it.
    bool takeLedger(const QString &ledgerPath);
    int indexOf(qint64 id) const;
    void takeOver(QList<Job> jobs);
    // The one place where a job's state changes.
    void move(qint64 id, Jobs::State to);
    void change(qint64 id, const std::function<void(Job &)> &edit);
    // Tells once that the ledger stopped taking jobs.
    void checkLedger();
    void connectBackend(JobBackend *backend);
    // Ends a job as its backend, or the queue, says.
    void finish(qint64 id, JobOutcome outcome);
    // Starts what the place has room for, in the queue's order.
    void dispatch(const QString &where);
    void launch(qint64 id);
    // Why the job may not be queued beside those there are; empty when it may.
    QString refusal(const Job &job) const;

    // Held while the ledger is this launcher's; a crashed holder's lock is taken over.
    std::unique_ptr<QLockFile> m_lock;
    QString m_lock_problem;
    std::unique_ptr<QTemporaryDir> m_session_dir;
    std::unique_ptr<JobLedger> m_ledger;
    // Names this ledger's jobs apart from other ledgers' where they meet, as on a cluster.
    QString m_tag;
    bool m_ledger_failed = false;
    LocalBackend *m_local = nullptr;
    // The other places jobs run, by name.
    QHash<QString, JobBackend *> m_backends;
    QList<Job> m_jobs;
    qint64 m_last_id = 0;
    QHash<QString, JobQueue::Limits> m_limits;
    bool m_leave_running = false;
};

#endif
