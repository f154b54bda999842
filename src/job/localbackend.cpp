// SPDX-License-Identifier: GPL-3.0-or-later
#include "job/localbackend.h"

#include "job/processgroups.h"

#include <QTimer>

LocalBackend::LocalBackend(QObject *parent)
    : JobBackend(parent)
    , m_runner(new JobRunner(this))
    , m_watch_timer(new QTimer(this))
{
    connect(m_runner, &JobRunner::stepStarted, this, [this](int step, const QString &output) {
        Q_EMIT stepStarted(m_running, step, output);
    });
    connect(m_runner, &JobRunner::groupStarted, this,
            [this](qint64 group) { Q_EMIT groupStarted(m_running, group); });
    connect(m_runner, &JobRunner::stopping, this, [this] { Q_EMIT stopping(m_running); });
    connect(m_runner, &JobRunner::jobEnded, this,
            [this](const JobRunner::Outcome &outcome) { Q_EMIT ended(m_running, outcome); });
    connect(m_watch_timer, &QTimer::timeout, this, &LocalBackend::checkWatched);
}

bool LocalBackend::start(const Job &job, QString *error)
{
    if (!m_runner->begin(job.plan)) {
        *error = QStringLiteral("Another job runs on this computer: stop it first.");
        return false;
    }
    m_running = job.id;
    QMetaObject::invokeMethod(m_runner, &JobRunner::compute, Qt::QueuedConnection);
    return true;
}

void LocalBackend::stop(const Job &job)
{
    if (runs(job.id)) {
        m_runner->stop();
        return;
    }
    auto watched = m_watched.find(job.id);
    if (watched == m_watched.end() || watched->stopping)
        return;
    watched->stopping = true;
    watched->stopClock.start();
    ProcessGroups::signal(watched->group, ProcessGroups::Signal::Terminate);
    Q_EMIT stopping(job.id);
}

void LocalBackend::watch(const Job &job)
{
    m_watched.insert(job.id, { job.processGroup, false, {} });
    m_watch_timer->start(WatchIntervalMs);
}

void LocalBackend::checkWatched()
{
    for (auto watched = m_watched.begin(); watched != m_watched.end();) {
        if (ProcessGroups::alive(watched->group)) {
            if (watched->stopping && watched->stopClock.hasExpired(JobRunner::StopGraceMs))
                ProcessGroups::signal(watched->group, ProcessGroups::Signal::Kill);
            ++watched;
            continue;
        }
        JobRunner::Outcome outcome;
        if (watched->stopping) {
            outcome.ending = JobRunner::Ending::Stopped;
        } else {
            outcome.ending = JobRunner::Ending::Unknown;
            outcome.reason = QStringLiteral("ended; its exit status is unknown, as an earlier "
                                            "launcher started it");
        }
        const qint64 id = watched.key();
        watched = m_watched.erase(watched);
        Q_EMIT ended(id, outcome);
    }
    if (m_watched.isEmpty())
        m_watch_timer->stop();
}
