// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef CLUSTERBACKEND_H
#define CLUSTERBACKEND_H

#include "cluster/batchsystem.h"
#include "cluster/clusterprofile.h"
#include "cluster/sshclient.h"
#include "job/jobbackend.h"
#include "job/jobstatus.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>

#include <functional>
#include <memory>

class QTimer;

// Runs jobs on one cluster over SSH: sends each job's files to a folder of its own there,
// submits the job's script through the batch system, looks at the queue and the jobs' records
// for all the cluster's jobs at once, mirrors the followed job's output into its local output
// file and copies the results home at the end. What the batch system asks and answers is its
// BatchSystem's.
class ClusterBackend : public JobBackend
{
    Q_OBJECT

public:
    // How often the followed job's output and record are fetched.
    static constexpr int FollowIntervalMs = 2000;
    // After a cancel, how often the queue is looked at until the job has left it, and for how
    // long at most.
    static constexpr int CancelPollMs = 1000;
    static constexpr int CancelWatchMs = 30000;
    // After faults the queue is looked at up to this many times less often.
    static constexpr int MaxBackOff = 8;
    // At most this much output is fetched at a time.
    static constexpr int FollowChunk = 4 * 1024 * 1024;

    // Slurm, unless another batch system is given.
    ClusterBackend(const ClusterProfile &profile, const SshConfig &ssh, QObject *parent = nullptr,
                   std::unique_ptr<BatchSystem> batch = nullptr);
    ~ClusterBackend() override;

    const ClusterProfile &profile() const { return m_profile; }
    SshClient *ssh() const { return m_ssh; }
    // The number of looks at the queue so far.
    int pollCount() const { return m_polls; }
    // The job's folder on the cluster, by its name: jobs of older launchers have their id.
    static QString folderName(const Job &job);

    bool start(const Job &job, QString *error) override;
    void stop(const Job &job) override;
    void watch(const Job &job) override;
    void follow(qint64 id) override;
    void fetch(const Job &job) override;
    void forget(const Job &job) override;

private:
    struct Tracked
    {
        Job job;
        // The submission of this launcher is under way.
        bool submitting = false;
        bool stopping = false;
        // Its end is known and its results are being copied.
        bool ending = false;
        // Since the cancel was sent.
        QElapsedTimer cancelled;
        int stepsSeen = 0;
    };

    QString remotePath(const Job &job, const QString &name) const;
    void refuse(qint64 id, const QString &problem);
    void send(qint64 id, QStringList files);
    void submit(qint64 id);
    void adopt(Tracked &tracked, const QString &remoteId);
    void cancel(Tracked &tracked);
    void schedulePoll();
    void poll();
    void pollAnswered(const SshResult &result);
    // What the job's record says: its steps' starts, and its end once it has one.
    bool readRecord(Tracked &tracked, const JobStatus::Record &record);
    void report(Tracked &tracked, Jobs::State state);
    void confirm(const QList<qint64> &vanished);
    // The outcome is made once the results are home, so that it can quote their error output.
    void finish(qint64 id, const std::function<JobOutcome(const Job &)> &outcome);
    void copyHome(qint64 id, const std::function<JobOutcome(const Job &)> &outcome);
    void fetchResults(const Job &job, const std::function<void(const QString &)> &done);
    void followOutput();
    // The connection failed, or came back.
    void fault(const QString &fault);
    void reachable();

    ClusterProfile m_profile;
    std::unique_ptr<BatchSystem> m_batch;
    SshClient *m_ssh = nullptr;
    QHash<qint64, Tracked> m_jobs;
    QTimer *m_poll_timer = nullptr;
    QTimer *m_follow_timer = nullptr;
    QElapsedTimer m_last_poll;
    bool m_polling = false;
    int m_polls = 0;
    int m_back_off = 1;
    QDateTime m_unreachable_since;
    qint64 m_followed = 0;
    bool m_fetching_output = false;
};

#endif
