// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef LOCALBACKEND_H
#define LOCALBACKEND_H

#include "job/jobbackend.h"

#include <QElapsedTimer>
#include <QHash>

class QProcess;
class QTimer;

// Runs jobs on this computer, as many as it is given: each job's script in a process group of its
// own, in the job's working directory, with the job's record in a folder of the launcher's. Jobs
// that an earlier launcher left running are watched through their groups and records.
class LocalBackend : public JobBackend
{
    Q_OBJECT

public:
    // How long a stopped job's process group may take to end before it is killed, and how
    // long the killed group may take to be gone before the job ends all the same.
    static constexpr int StopGraceMs = 5000;
    static constexpr int KillWaitMs = 3000;
    // How often the records and groups of running jobs are looked at.
    static constexpr int LookIntervalMs = 250;

    // Each job's script and record go into a folder of its own under runsDir; stepWrapper,
    // where not empty, measures what each step used.
    explicit LocalBackend(const QString &runsDir, const QString &stepWrapper = QString(),
                          QObject *parent = nullptr);
    ~LocalBackend() override;

    // Lets the jobs it started go on without it.
    void release();
    // Whether this launcher started the job and it has not ended, rather than watching it.
    bool runs(qint64 id) const;
    // The folder of the job's script and record.
    QString runDir(qint64 id) const;

    bool start(const Job &job, QString *error) override;
    void stop(const Job &job) override;
    // Takes on a job whose process group runs without a launcher: its end is the group's end,
    // and its record says how it ended.
    void watch(const Job &job) override;
    // Its script and record go; the job's own files stay.
    void forget(const Job &job) override;

private:
    struct Run
    {
        Job job;
        // The script's process, for a job this launcher started.
        QProcess *process = nullptr;
        bool launched = false;
        bool scriptEnded = false;
        qint64 group = 0;
        bool stopping = false;
        QElapsedTimer stopClock;
        int stepsSeen = 0;
    };

    void launch(qint64 id);
    void look();
    void lookAt(Run &run);
    void end(qint64 id, JobOutcome outcome);
    // The script could not be started, or its folder not written.
    void failedToStart(qint64 id, const QString &error);

    QString m_runs_dir;
    QString m_step_wrapper;
    QHash<qint64, Run> m_runs;
    QTimer *m_look_timer = nullptr;
};

#endif
