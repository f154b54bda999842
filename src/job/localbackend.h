// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef LOCALBACKEND_H
#define LOCALBACKEND_H

#include "job/jobbackend.h"

#include <QElapsedTimer>
#include <QHash>

class QTimer;

// Runs jobs on this computer, one at a time, and watches the ones an earlier launcher left
// running, through their process groups.
class LocalBackend : public JobBackend
{
    Q_OBJECT

public:
    // How often the groups of watched jobs are looked at.
    static constexpr int WatchIntervalMs = 500;

    explicit LocalBackend(QObject *parent = nullptr);

    // The runner of the job this launcher started, for its steps' details.
    JobRunner *runner() const { return m_runner; }
    // Whether the job is the one the runner runs, rather than one that is watched.
    bool runs(qint64 id) const { return m_runner->isRunning() && id == m_running; }

    bool start(const Job &job, QString *error) override;
    void stop(const Job &job) override;
    // Takes on a job whose process group runs without a launcher: its end is the group's end,
    // and how it ended cannot be known.
    void watch(const Job &job) override;

private:
    struct Watched
    {
        qint64 group = 0;
        bool stopping = false;
        QElapsedTimer stopClock;
    };

    void checkWatched();

    JobRunner *m_runner = nullptr;
    qint64 m_running = 0;
    QHash<qint64, Watched> m_watched;
    QTimer *m_watch_timer = nullptr;
};

#endif
