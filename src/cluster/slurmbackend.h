// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef SLURMBACKEND_H
#define SLURMBACKEND_H

#include "cluster/clusterprofile.h"
#include "cluster/sshclient.h"
#include "job/jobbackend.h"
#include "job/packageconfig.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>

class QTimer;

// Runs jobs on one Slurm cluster over SSH: sends each job's files to a folder of its own there,
// submits a job script, looks at the queue for all the cluster's jobs at once, mirrors the
// watched job's output into its local output file and copies the results home at the end.
class SlurmBackend : public JobBackend
{
    Q_OBJECT

public:
    // How often the watched job's output is fetched while it runs.
    static constexpr int FollowIntervalMs = 2000;
    // After faults the queue is looked at up to this many times less often.
    static constexpr int MaxBackOff = 8;
    // At most this much output is fetched at a time.
    static constexpr int FollowChunk = 4 * 1024 * 1024;

    // The package's executable names are the local ones; its folder is the profile's.
    SlurmBackend(const ClusterProfile &profile, const PackageConfig &package, const SshConfig &ssh,
                 QObject *parent = nullptr);

    const ClusterProfile &profile() const { return m_profile; }
    SshClient *ssh() const { return m_ssh; }
    // The number of looks at the queue so far.
    int pollCount() const { return m_polls; }

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
    };

    void refuse(qint64 id, const QString &problem);
    void send(qint64 id, QStringList files);
    void submit(qint64 id);
    void adopt(Tracked &tracked, const QString &remoteId);
    void schedulePoll();
    void poll();
    void pollAnswered(const SshResult &result);
    void report(Tracked &tracked, Jobs::State state);
    void confirm(const QList<qint64> &vanished);
    void finish(qint64 id, JobRunner::Outcome outcome);
    void fetchResults(const Job &job, const std::function<void(const QString &)> &done);
    void followOutput();
    // The connection failed, or came back.
    void fault(const QString &fault);
    void reachable();

    ClusterProfile m_profile;
    PackageConfig m_package;
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
