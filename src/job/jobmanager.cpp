// SPDX-License-Identifier: GPL-3.0-or-later
#include "job/jobmanager.h"

#include "job/jobledger.h"
#include "job/jobstatus.h"
#include "job/localbackend.h"
#include "job/processgroups.h"

#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QRandomGenerator>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>

namespace {

Jobs::State stateOf(Jobs::Ending ending)
{
    switch (ending) {
    case Jobs::Ending::Finished:
        return Jobs::State::Finished;
    case Jobs::Ending::Failed:
    case Jobs::Ending::NoFort9:
    case Jobs::Ending::FailedToStart:
        return Jobs::State::Failed;
    case Jobs::Ending::Stopped:
        return Jobs::State::Stopped;
    case Jobs::Ending::Unknown:
        break;
    }
    return Jobs::State::Lost;
}

// The outcome that another launcher recorded for a job, if it did.
JobOutcome recordedEnd(const Job &recorded, const JobOutcome &unknown)
{
    if (recorded.id == 0 || Jobs::isActive(recorded.state) || recorded.state == Jobs::State::Lost)
        return unknown;
    JobOutcome outcome;
    outcome.ending = recorded.state == Jobs::State::Finished ? Jobs::Ending::Finished
            : recorded.state == Jobs::State::Stopped         ? Jobs::Ending::Stopped
                                                             : Jobs::Ending::Failed;
    outcome.reason = recorded.reason;
    outcome.exitCode = recorded.exitCode;
    outcome.signal = recorded.signal;
    outcome.started = recorded.started;
    outcome.ended = recorded.ended;
    outcome.usage = recorded.usage;
    return outcome;
}

}

JobManager::JobManager(const QString &ledgerPath, QObject *parent, const QString &stepWrapper)
    : QObject(parent)
{
    // A ledger that cannot say its tag has this session's.
    m_tag = QString::number(QRandomGenerator::global()->generate(), 16);
    JobQueue::Limits here;
    here.cores = QThread::idealThreadCount();
    m_limits.insert(Jobs::thisComputer(), here);
    const bool held = !ledgerPath.isEmpty() && !takeLedger(ledgerPath);
    // The jobs' scripts and records live beside the ledger, or for a session without one
    // in a folder of its own.
    if (ledgerPath.isEmpty() || held) {
        m_session_dir = std::make_unique<QTemporaryDir>();
        m_local = new LocalBackend(m_session_dir->path(), stepWrapper, this);
    } else {
        m_local = new LocalBackend(QFileInfo(ledgerPath).absolutePath() + QStringLiteral("/runs"),
                                   stepWrapper, this);
    }
    connectBackend(m_local);
    if (ledgerPath.isEmpty() || held)
        return;
    m_ledger = std::make_unique<JobLedger>(ledgerPath);
    if (m_ledger->isOpen())
        m_tag = m_ledger->tag();
    // A ledger unusable from the start is told by ledgerProblem().
    m_ledger_failed = !m_ledger->isOpen();
    QList<Job> jobs = m_ledger->load();
    std::reverse(jobs.begin(), jobs.end());
    takeOver(jobs);
    // Queued jobs start once whoever made the manager has heard of the running ones.
    QMetaObject::invokeMethod(
            this, [this] { dispatch(Jobs::thisComputer()); }, Qt::QueuedConnection);
}

bool JobManager::takeLedger(const QString &ledgerPath)
{
    const QString path = ledgerPath + QStringLiteral(".lock");
    QDir().mkpath(QFileInfo(path).absolutePath());
    m_lock = std::make_unique<QLockFile>(path);
    // Held for as long as the launcher runs; only a holder that is gone leaves it stale.
    m_lock->setStaleLockTime(0);
    if (m_lock->tryLock(0))
        return true;
    qint64 pid = 0;
    QString host;
    QString application;
    if (m_lock->error() != QLockFile::LockFailedError
        || !m_lock->getLockInfo(&pid, &host, &application))
        m_lock_problem = QStringLiteral("The job list %1 cannot be locked for this launcher: its "
                                        "jobs are kept for this session only.")
                                 .arg(ledgerPath);
    else if (host == QSysInfo::machineHostName())
        m_lock_problem = QStringLiteral("The job list %1 is used by another launcher on this "
                                        "computer (process %2): this launcher's jobs are kept "
                                        "for this session only.")
                                 .arg(ledgerPath)
                                 .arg(pid);
    else
        m_lock_problem = QStringLiteral("The job list %1 is used by a launcher on the computer "
                                        "%2 (process %3), and one file cannot be shared between "
                                        "computers: this launcher's jobs are kept for this "
                                        "session only.")
                                 .arg(ledgerPath, host)
                                 .arg(pid);
    m_lock.reset();
    return false;
}

JobManager::~JobManager()
{
    // The runner kills what is left of its jobs as it goes: they were stopped, not lost.
    // Jobs left running are the next launcher's to watch.
    const QList<Job> jobs = m_jobs;
    for (const Job &job : jobs) {
        if (m_leave_running || !m_local->runs(job.id))
            continue;
        change(job.id, [](Job &closed) {
            closed.reason = QStringLiteral("the launcher was closed while it ran");
            closed.ended = QDateTime::currentDateTime();
        });
        move(job.id, Jobs::State::Stopped);
    }
}

void JobManager::leaveRunning()
{
    m_leave_running = true;
    m_local->release();
}

QString JobManager::ledgerProblem() const
{
    return m_ledger ? m_ledger->problem() : m_lock_problem;
}

void JobManager::connectBackend(JobBackend *backend)
{
    connect(backend, &JobBackend::stepStarted, this,
            [this](qint64 id, int step, const QString &program, const QString &output) {
                change(id, [&](Job &job) {
                    job.step = step;
                    job.stepProgram = program;
                    job.outputFile = output;
                    job.errorFile = JobFiles::errorFileOf(output);
                });
                Q_EMIT stepStarted(id, step, output);
            });
    connect(backend, &JobBackend::groupStarted, this, [this](qint64 id, qint64 group) {
        change(id, [group](Job &job) {
            job.processGroup = group;
            job.bootId = ProcessGroups::bootId();
        });
    });
    connect(backend, &JobBackend::stopping, this,
            [this](qint64 id) { move(id, Jobs::State::Stopping); });
    connect(backend, &JobBackend::stateReported, this,
            [this](qint64 id, Jobs::State state) { move(id, state); });
    connect(backend, &JobBackend::remoteIdAssigned, this,
            [this](qint64 id, const QString &remoteId) {
                change(id, [&remoteId](Job &job) { job.remoteId = remoteId; });
            });
    connect(backend, &JobBackend::fetched, this, &JobManager::jobFetched);
    connect(backend, &JobBackend::notice, this, &JobManager::backendNotice);
    connect(backend, &JobBackend::ended, this, &JobManager::finish);
}

void JobManager::finish(qint64 id, JobOutcome outcome)
{
    const int index = indexOf(id);
    if (index < 0)
        return;
    // The launcher that started it may have lived on and seen how it ended.
    if (outcome.ending == Jobs::Ending::Unknown && m_ledger)
        outcome = recordedEnd(m_ledger->find(id), outcome);
    Job &job = m_jobs[index];
    job.exitCode = outcome.exitCode;
    job.signal = outcome.signal;
    job.reason = outcome.reason;
    job.usage = outcome.usage;
    // The job's own clock says when its steps ran; where it does not, this is when its end
    // was seen.
    if (outcome.started.isValid())
        job.started = outcome.started;
    job.ended = outcome.ended.isValid() ? outcome.ended : QDateTime::currentDateTime();
    const QString where = job.where;
    move(id, stateOf(outcome.ending));
    Q_EMIT jobEnded(id, outcome);
    dispatch(where);
}

void JobManager::takeOver(QList<Job> jobs)
{
    m_jobs = std::move(jobs);
    const QString boot = ProcessGroups::bootId();
    for (const Job &job : std::as_const(m_jobs)) {
        m_last_id = qMax(m_last_id, job.id);
        // Jobs elsewhere wait for the backend of their place.
        const bool local = job.where == Jobs::thisComputer();
        if (!local || (job.state != Jobs::State::Running && job.state != Jobs::State::Stopping))
            continue;
        // A group of an earlier boot, or none, runs nothing of the job any more.
        if (job.bootId != boot || !ProcessGroups::alive(job.processGroup)) {
            const QString record
                    = m_local->runDir(job.id) + QLatin1Char('/') + JobStatus::fileName();
            // A script that ended while no launcher watched it recorded how: its group is not
            // looked at, its number may be another's by now.
            if (!JobStatus::read(record).end.isEmpty()) {
                Job ended = job;
                ended.processGroup = 0;
                m_local->watch(ended);
                continue;
            }
            // Its record, or else its output, was last written near its end.
            QFileInfo sign(record);
            if (!sign.exists())
                sign = QFileInfo(job.outputFile);
            const QDateTime last = sign.exists() ? sign.lastModified() : QDateTime();
            change(job.id, [&last](Job &lost) {
                lost.reason = lostReason();
                if (last >= lost.started)
                    lost.ended = last;
            });
            move(job.id, Jobs::State::Lost);
            continue;
        }
        m_local->watch(job);
        if (job.state == Jobs::State::Stopping)
            m_local->stop(job);
    }
}

void JobManager::setBackend(const QString &where, JobBackend *backend)
{
    delete m_backends.take(where);
    if (!backend)
        return;
    backend->setParent(this);
    m_backends.insert(where, backend);
    connectBackend(backend);
    for (const Job &job : std::as_const(m_jobs)) {
        if (job.where == where && Jobs::isActive(job.state) && !job.waits())
            backend->watch(job);
    }
    dispatch(where);
}

void JobManager::setLimits(const QString &where, const JobQueue::Limits &limits)
{
    m_limits.insert(where, limits);
    dispatch(where);
}

JobQueue::Limits JobManager::limits(const QString &where) const
{
    return m_limits.value(where);
}

JobBackend *JobManager::backend(const QString &where) const
{
    return where == Jobs::thisComputer() ? m_local : m_backends.value(where);
}

const Job *JobManager::find(qint64 id) const
{
    const int index = indexOf(id);
    return index < 0 ? nullptr : &m_jobs.at(index);
}

int JobManager::indexOf(qint64 id) const
{
    for (int index = m_jobs.size() - 1; index >= 0; --index) {
        if (m_jobs.at(index).id == id)
            return index;
    }
    return -1;
}

QString JobManager::refusal(const Job &job) const
{
    if (!backend(job.where))
        return QStringLiteral("There is no cluster named %1.").arg(job.where);
    const int cores = limits(job.where).cores;
    if (cores > 0 && job.cores > cores)
        return QStringLiteral("The job asks for %1 cores, but jobs on this computer may use %2 "
                              "at most (Parallel runs, in the settings).")
                .arg(job.cores)
                .arg(cores);
    // Two jobs writing one output would spoil each other's results.
    const QString output
            = QFileInfo(job.workDir + QLatin1Char('/') + job.plan.output).absoluteFilePath();
    for (const Job &other : m_jobs) {
        if (Jobs::isActive(other.state) && !other.plan.isEmpty()
            && QFileInfo(other.workDir + QLatin1Char('/') + other.plan.output).absoluteFilePath()
                    == output)
            return QStringLiteral("Job %1 (%2) has not ended and writes %3 too: stop it, or wait "
                                  "for its end.")
                    .arg(other.id)
                    .arg(other.title.isEmpty() ? QFileInfo(other.deck).fileName() : other.title,
                         output);
    }
    return QString();
}

qint64 JobManager::start(Job job, QString *error)
{
    *error = refusal(job);
    if (!error->isEmpty())
        return 0;
    JobBackend *runner = backend(job.where);
    // Due at once, where nothing waits before it that may not be overtaken.
    QList<JobQueue::Waiting> waiting;
    int coresBusy = 0;
    int active = 0;
    qint64 lastOrder = 0;
    for (const Job &other : std::as_const(m_jobs)) {
        lastOrder = qMax(lastOrder, other.queueOrder);
        if (other.where != job.where || !Jobs::isActive(other.state))
            continue;
        if (other.waits()) {
            waiting.append({ other.id, other.cores, other.started });
        } else {
            coresBusy += other.cores;
            ++active;
        }
    }
    const QDateTime now = QDateTime::currentDateTime();
    waiting.append({ 0, job.cores, now });
    const bool dueNow
            = JobQueue::due(waiting, coresBusy, active, limits(job.where), now).contains(0);
    // A batch system runs the job when it sees fit.
    job.state = !dueNow                         ? Jobs::State::Queued
            : job.where == Jobs::thisComputer() ? Jobs::State::Running
                                                : Jobs::State::Submitted;
    job.started = now;
    job.queueOrder = lastOrder + 1;
    job.outputFile = job.plan.output;
    job.errorFile = JobFiles::errorFileOf(job.plan.output);
    // A job runs whether or not the ledger takes it.
    if (!m_ledger || !m_ledger->record(job))
        job.id = m_last_id + 1;
    // Its folder on a cluster is named apart from those of other ledgers and computers.
    if (job.where != Jobs::thisComputer()) {
        job.remoteFolder = QStringLiteral("%1-%2").arg(job.id).arg(m_tag);
        if (m_ledger)
            m_ledger->update(job);
    }
    checkLedger();
    m_last_id = qMax(m_last_id, job.id);
    m_jobs.append(job);
    if (dueNow && !runner->start(job, error)) {
        m_jobs.removeLast();
        if (m_ledger)
            m_ledger->remove(job.id);
        return 0;
    }
    Q_EMIT jobAdded(job.id);
    return job.id;
}

void JobManager::dispatch(const QString &where)
{
    if (!backend(where))
        return;
    QList<const Job *> waiting;
    int coresBusy = 0;
    int active = 0;
    for (const Job &job : std::as_const(m_jobs)) {
        if (job.where != where || !Jobs::isActive(job.state))
            continue;
        if (job.waits()) {
            waiting.append(&job);
        } else {
            coresBusy += job.cores;
            ++active;
        }
    }
    if (waiting.isEmpty())
        return;
    std::stable_sort(waiting.begin(), waiting.end(),
                     [](const Job *a, const Job *b) { return a->queueOrder < b->queueOrder; });
    QList<JobQueue::Waiting> queue;
    for (const Job *job : std::as_const(waiting))
        queue.append({ job->id, job->cores, job->started });
    const QList<qint64> due
            = JobQueue::due(queue, coresBusy, active, limits(where), QDateTime::currentDateTime());
    for (const qint64 id : due)
        launch(id);
}

void JobManager::launch(qint64 id)
{
    const Job *queued = find(id);
    if (!queued)
        return;
    JobOutcome failed;
    failed.ending = Jobs::Ending::FailedToStart;
    if (!QFileInfo::exists(queued->deck)) {
        failed.reason = QStringLiteral("its input file %1 is not there any more").arg(queued->deck);
        failed.message = QStringLiteral("The queued job %1 cannot start: %2.")
                                 .arg(queued->id)
                                 .arg(failed.reason);
        finish(id, failed);
        return;
    }
    const bool here = queued->where == Jobs::thisComputer();
    change(id, [](Job &job) { job.started = QDateTime::currentDateTime(); });
    move(id, here ? Jobs::State::Running : Jobs::State::Submitted);
    // Whoever heard of the move may have changed the list.
    const Job *job = find(id);
    QString error;
    if (job && !backend(job->where)->start(*job, &error)) {
        failed.reason = error;
        failed.message = error;
        finish(id, failed);
    }
}

void JobManager::stop(qint64 id)
{
    const Job *job = find(id);
    if (job && job->waits()) {
        JobOutcome outcome;
        outcome.ending = Jobs::Ending::Stopped;
        outcome.reason = QStringLiteral("stopped while queued, before it ran");
        outcome.started = job->started;
        finish(id, outcome);
        return;
    }
    JobBackend *runner = job ? backend(job->where) : nullptr;
    if (runner && Jobs::isActive(job->state))
        runner->stop(*job);
}

void JobManager::moveInQueue(qint64 id, bool toFront)
{
    const Job *job = find(id);
    if (!job || !job->waits())
        return;
    qint64 order = 0;
    for (const Job &other : std::as_const(m_jobs)) {
        if (other.waits() && other.where == job->where && other.id != id)
            order = toFront ? qMin(order, other.queueOrder) : qMax(order, other.queueOrder);
    }
    const QString where = job->where;
    change(id, [order, toFront](Job &moved) { moved.queueOrder = order + (toFront ? -1 : 1); });
    dispatch(where);
}

void JobManager::follow(qint64 id)
{
    const Job *job = find(id);
    for (JobBackend *runner : std::as_const(m_backends))
        runner->follow(job && runner == backend(job->where) ? id : 0);
}

void JobManager::fetch(qint64 id)
{
    const Job *job = find(id);
    JobBackend *runner = job ? backend(job->where) : nullptr;
    if (runner && !Jobs::isActive(job->state))
        runner->fetch(*job);
}

bool JobManager::remove(qint64 id)
{
    const int index = indexOf(id);
    if (index < 0 || Jobs::isActive(m_jobs.at(index).state))
        return false;
    // What a cluster keeps of the job goes with its record; the local files stay.
    if (JobBackend *runner = backend(m_jobs.at(index).where))
        runner->forget(m_jobs.at(index));
    if (m_ledger && m_ledger->isOpen())
        m_ledger->remove(id);
    checkLedger();
    Q_EMIT jobAboutToBeRemoved(index);
    m_jobs.removeAt(index);
    Q_EMIT jobRemoved(id);
    return true;
}

void JobManager::folderMoved(const QString &from, const QString &to)
{
    const auto moved = [&from, &to](QString &path) {
        if (path == from || path.startsWith(from + QLatin1Char('/')))
            path = to + path.mid(from.size());
    };
    for (const Job &job : std::as_const(m_jobs)) {
        if (job.workDir != from || Jobs::isActive(job.state))
            continue;
        change(job.id, [&moved](Job &changed) {
            for (QString *path :
                 { &changed.deck, &changed.workDir, &changed.outputFile, &changed.errorFile })
                moved(*path);
        });
    }
}

void JobManager::move(qint64 id, Jobs::State to)
{
    const int index = indexOf(id);
    if (index < 0 || !Jobs::canMove(m_jobs.at(index).state, to))
        return;
    m_jobs[index].state = to;
    if (m_ledger)
        m_ledger->update(m_jobs.at(index));
    checkLedger();
    Q_EMIT jobStateChanged(id, to);
    Q_EMIT jobChanged(id);
}

void JobManager::change(qint64 id, const std::function<void(Job &)> &edit)
{
    const int index = indexOf(id);
    if (index < 0)
        return;
    edit(m_jobs[index]);
    if (m_ledger)
        m_ledger->update(m_jobs.at(index));
    checkLedger();
    Q_EMIT jobChanged(id);
}

void JobManager::checkLedger()
{
    if (!m_ledger || m_ledger_failed || m_ledger->isOpen())
        return;
    m_ledger_failed = true;
    Q_EMIT ledgerFailed(m_ledger->problem());
}
