// SPDX-License-Identifier: GPL-3.0-or-later
#include "launcher/launcher.h"

#include "cluster/clusterbackend.h"
#include "job/jobmanager.h"
#include "job/jobplanner.h"
#include "job/localbackend.h"
#include "job/programcatalog.h"
#include "portal/folders.h"
#include "settings/settingskeys.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

namespace {

bool sameProfile(const ClusterProfile &a, const ClusterProfile &b)
{
    return a.name == b.name && a.host == b.host && a.sshOptions == b.sshOptions
            && a.remoteDir == b.remoteDir && a.packageDir == b.packageDir
            && a.launcher == b.launcher && a.partition == b.partition && a.account == b.account
            && a.timeLimit == b.timeLimit && a.setup == b.setup && a.pollSeconds == b.pollSeconds
            && a.maxSubmitted == b.maxSubmitted;
}

QString firstLine(const QString &deck)
{
    QFile file(deck);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    return QString::fromUtf8(file.readLine()).trimmed();
}

// "this computer", or the cluster's name.
QString placeName(const QString &where)
{
    return where == Jobs::thisComputer() ? Launcher::tr("this computer") : where;
}

bool isDeck(const QString &path)
{
    return !ProgramCatalog::namesForDeck(QFileInfo(path).suffix()).isEmpty();
}

}

Launcher::Launcher(const QString &dataDir, QObject *parent)
    : QObject(parent)
    , m_settings(std::make_unique<QSettings>(SettingsKeys::Organization, SettingsKeys::Application))
    , m_uploader(new Uploader(this))
    , m_deck_watcher(new QFileSystemWatcher(this))
{
    SettingsKeys::seedExecutableNames(*m_settings);
    const QString data = dataDir.isEmpty()
            ? QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)
            : dataDir;
    // The step wrapper is installed beside the launcher, or in its libexec folder.
    const QString bin = QCoreApplication::applicationDirPath();
    QString wrapper = bin + QStringLiteral("/moltra-step");
    if (!QFileInfo(wrapper).isExecutable())
        wrapper = bin + QStringLiteral("/../libexec/moltra-farbo-starter/moltra-step");
    m_jobs = new JobManager(data + QStringLiteral("/jobs.sqlite"), this,
                            QFileInfo(wrapper).isExecutable() ? wrapper : QString());
    connectJobs();
    // A deck saved by an editor is shown anew; editors that save by renaming drop the watch.
    connect(m_deck_watcher, &QFileSystemWatcher::fileChanged, this, [this] {
        reloadDeck();
        m_deck_watcher->addPath(m_loaded.deck());
    });
    connect(m_uploader, &Uploader::finished, this, [this](const Uploader::Outcome &outcome) {
        Q_EMIT uploadEnded(outcome);
        const Job *job = m_jobs->find(m_current);
        showRun(m_loaded.isPortalJob() && !(job && Jobs::isActive(job->state)));
        if (outcome.cancelled) {
            setStatus(QStringLiteral("Upload cancelled"));
        } else if (outcome.success) {
            m_loaded.uploaded();
            setStatus(QStringLiteral("Uploaded to Farbo"));
            Q_EMIT informed(outcome.message);
        } else {
            setStatus(QStringLiteral("Upload failed"));
            Q_EMIT failed(outcome.message);
        }
    });
    applySettings();

    // Said once: the launcher works on without its list of jobs, or with its own cores.
    QString problem = m_jobs->ledgerProblem();
    SettingsKeys::localLimits(*m_settings, problem.isEmpty() ? &problem : nullptr);
    // Jobs an earlier launcher left running go on under this one's eyes.
    const auto watched
            = std::count_if(m_jobs->jobs().cbegin(), m_jobs->jobs().cend(), [this](const Job &job) {
                  return job.where == Jobs::thisComputer() && Jobs::isActive(job.state)
                          && !job.waits() && !runsHere(job.id);
              });
    if (problem.isEmpty() && watched > 0)
        problem = watched == 1 ? tr("A job started by an earlier launcher still runs on this "
                                    "computer; the Jobs tab lists it")
                               : tr("%1 jobs started by an earlier launcher still run on this "
                                    "computer; the Jobs tab lists them")
                                         .arg(watched);
    // Said at start-up: a ledger that cannot be used, bad settings, jobs found running.
    if (!problem.isEmpty())
        QTimer::singleShot(0, this, [this, problem] { setStatus(problem); });
}

Launcher::~Launcher()
{
    // Its steps end before their job folder goes, without telling anyone that is going.
    m_jobs->disconnect(this);
}

void Launcher::connectJobs()
{
    connect(m_jobs, &JobManager::stepStarted, this,
            [this](qint64 id, int, const QString &outputFile) {
                if (id == m_current)
                    Q_EMIT outputRestarted(outputFile);
            });
    connect(m_jobs, &JobManager::jobChanged, this, [this](qint64 id) {
        if (id == m_current)
            showProgress();
    });
    connect(m_jobs, &JobManager::jobStateChanged, this, [this](qint64 id, Jobs::State state) {
        if (id != m_current || !Jobs::isActive(state))
            return;
        showRun(false);
        showProgress();
    });
    connect(m_jobs, &JobManager::jobEnded, this, &Launcher::ended);
    connect(m_jobs, &JobManager::ledgerFailed, this,
            [this](const QString &text) { setStatus(text); });
    connect(m_jobs, &JobManager::backendNotice, this,
            [this](const QString &text) { setStatus(text); });
    connect(m_jobs, &JobManager::jobFetched, this, [this](qint64 id, const QString &problem) {
        const Job *job = m_jobs->find(id);
        if (!job)
            return;
        if (problem.isEmpty())
            setStatus(tr("The results were copied back from %1 into %2")
                              .arg(job->where, job->workDir));
        else
            Q_EMIT failed(
                    tr("The results were not copied back from %1: %2.").arg(job->where, problem));
    });
}

QStringList Launcher::clusters() const
{
    QStringList names;
    for (const ClusterProfile &profile : m_profiles)
        names << profile.name;
    return names;
}

RunChoice Launcher::remembered() const
{
    RunChoice choice;
    choice.program = SettingsKeys::stringValue(*m_settings, SettingsKeys::LastProgram);
    choice.cores = m_settings->value(SettingsKeys::LastCores, 1).toInt();
    choice.where = SettingsKeys::stringValue(*m_settings, SettingsKeys::LastRunOn);
    return choice;
}

QStringList Launcher::droppedFiles(const QList<QUrl> &urls)
{
    QStringList paths;
    for (const QUrl &url : urls) {
        const bool jobFile = QFileInfo(url.toLocalFile()).suffix() == QLatin1String("farbojob")
                && urls.size() == 1;
        if (!url.isLocalFile() || !(isDeck(url.toLocalFile()) || jobFile))
            return QStringList();
        paths << url.toLocalFile();
    }
    return paths;
}

bool Launcher::runsHere(qint64 id) const
{
    return m_jobs->local()->runs(id);
}

bool Launcher::releaseFolder()
{
    return !m_loaded.releaseMustAsk() || !m_questions || m_questions->releaseFolder();
}

bool Launcher::keepFolder(const QString &target, QString *error)
{
    const QString path = m_loaded.workDir();
    if (!Folders::move(path, target, error))
        return false;
    m_loaded.kept(target);
    m_jobs->folderMoved(path, target);
    return true;
}

void Launcher::letGo()
{
    const Job *job = m_jobs->find(m_current);
    if (!job || !Jobs::isActive(job->state))
        return;
    // Said once the next deck is in, whose loading clears the status line.
    QTimer::singleShot(
            0, this,
            [this,
             text = tr("The job on %1 goes on; the Jobs tab lists it").arg(placeName(job->where))] {
                setStatus(text);
            });
    Q_EMIT outputCompleted(job->outputFile);
    m_jobs->follow(0);
    m_current = 0;
    showRun(false);
}

void Launcher::open(const QString &path)
{
    letGo();
    if (QFileInfo(path).suffix() == QLatin1String("farbojob"))
        return importJobFile(path);
    const QString refusal = JobFileImporter::refusal(path);
    if (!refusal.isEmpty())
        return Q_EMIT failed(refusal);
    // The portal job's folder would go with it.
    if (!releaseFolder())
        return;
    m_loaded = LoadedJob(path);
    RunChoice choice = remembered();
    choice.title = firstLine(path);
    choice.where.clear();
    loadDeck(path, choice);
    showRun(false);
    Q_EMIT fileOpened(path);
}

void Launcher::openMany(const QStringList &paths, const RunChoice &choice)
{
    if (paths.size() == 1)
        return open(paths.first());
    // Job files bring their own folders and questions: they come one at a time.
    for (const QString &path : paths) {
        if (!isDeck(path))
            return Q_EMIT failed(tr("Only decks (.d12, .d3) run as a batch; %1 is not one. Open "
                                    "job files one at a time.")
                                         .arg(QFileInfo(path).fileName()));
    }
    runBatch(paths, choice);
}

void Launcher::openArguments(const QStringList &paths, const RunChoice &choice)
{
    if (paths.size() == 1 && !isDeck(paths.first()))
        importJobFile(paths.first());
    else if (!paths.isEmpty())
        openMany(paths, choice);
}

void Launcher::importJobFile(const QString &path)
{
    letGo();
    ImportedJob job = JobFileImporter::import(path);
    if (!job.ok())
        return Q_EMIT failed(job.error);
    // Declined: the new job's folder goes again and the current job stays.
    if (!releaseFolder())
        return;
    m_loaded = LoadedJob(job.deck, job.identity, std::move(job.folder));
    RunChoice choice = remembered();
    choice.title = job.title;
    if (!job.program.isEmpty())
        choice.program = job.program;
    // Also for a serial program: a parallel build chosen next runs on the job's cores.
    choice.cores = job.cores;
    choice.where.clear();
    loadDeck(job.deck, choice, true);
    showRun(false);
    Q_EMIT fileOpened(path);
}

void Launcher::loadJob(qint64 id)
{
    const Job *job = m_jobs->find(id);
    if (!job)
        return;
    if (id == m_current && Jobs::isActive(job->state))
        return Q_EMIT outputToFront();
    letGo();
    if (!QFileInfo::exists(job->deck))
        return Q_EMIT failed(tr("The input file %1 is not there any more.").arg(job->deck));
    if (!releaseFolder())
        return;
    // A portal job whose folder is still there is that job again, and can be uploaded.
    m_loaded = job->portal.isPortalJob() ? LoadedJob(job->deck, job->portal) : LoadedJob(job->deck);
    m_current = id;
    RunChoice choice;
    choice.title = job->title;
    choice.program = job->program;
    const Program *program = ProgramCatalog::find(job->program);
    choice.cores = program && program->parallel ? job->cores : remembered().cores;
    choice.where = job->where;
    loadDeck(job->deck, choice);
    const bool active = Jobs::isActive(job->state);
    showRun(m_loaded.isPortalJob() && !active);
    // A job an earlier launcher left running is followed as if started here.
    if (active)
        return follow();
    Q_EMIT outputToFront();
}

void Launcher::loadDeck(const QString &deck, const RunChoice &choice, bool imported)
{
    DeckShown shown;
    shown.deck = deck;
    shown.workDir = m_loaded.workDir();
    shown.programs = ProgramCatalog::namesForDeck(QFileInfo(deck).suffix());
    shown.choice = choice;
    // The program of the last job where it fits this deck, else the kind's first.
    if (!shown.programs.contains(choice.program))
        shown.choice.program = shown.programs.value(0);
    shown.imported = imported;
    setStatus(QString());
    Q_EMIT deckLoaded(shown);
    m_deck_text.clear();
    QFile file(deck);
    if (file.open(QIODevice::ReadOnly | QIODevice::Text))
        m_deck_text = QString::fromUtf8(file.readAll());
    Q_EMIT deckTextChanged(m_deck_text);
    if (!m_deck_watcher->files().isEmpty())
        m_deck_watcher->removePaths(m_deck_watcher->files());
    m_deck_watcher->addPath(deck);
    Q_EMIT outputShown(earlierOutput(shown.choice.program));
}

void Launcher::reloadDeck()
{
    QFile file(m_loaded.deck());
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return;
    const QString text = QString::fromUtf8(file.readAll());
    if (text == m_deck_text)
        return;
    m_deck_text = text;
    Q_EMIT deckTextChanged(text);
}

QString Launcher::earlierOutput(const QString &program) const
{
    // The deck's own output from an earlier run, or nothing: never another job's.
    const Program *known = ProgramCatalog::find(program);
    return known ? m_loaded.workDir() + QLatin1Char('/') + QFileInfo(m_loaded.deck()).baseName()
                    + known->outputSuffix
                 : QString();
}

void Launcher::startOrStop(const RunChoice &choice)
{
    const Job *job = m_jobs->find(m_current);
    // A stopped job ends by itself; a second Stop would ask the same question again.
    if (job && job->state == Jobs::State::Stopping)
        return;
    if (!job || !Jobs::isActive(job->state))
        return start(choice);
    // The job may have ended while the question was open: then there is nothing to stop.
    if (m_questions && m_questions->askStop(false) == LauncherQuestions::StopAnswer::Stop)
        stop();
}

void Launcher::start(const RunChoice &choice)
{
    // What runs is what is shown: a deck saved since, whose change was not yet seen.
    reloadDeck();
    const PlannedJob planned = JobPlanner::plan(packageConfig(choice.where), choice.program,
                                                m_loaded.deck(), m_loaded.workDir(), choice.cores);
    if (!planned.refusal.isEmpty())
        return Q_EMIT failed(planned.refusal);
    const Program *program = ProgramCatalog::find(choice.program);
    Job job;
    job.deck = m_loaded.deck();
    job.workDir = m_loaded.workDir();
    job.title = choice.title.trimmed();
    job.program = choice.program;
    job.cores = program && program->parallel ? choice.cores : 1;
    job.plan = planned.plan;
    job.portal = m_loaded.identity();
    job.where = choice.where;
    QString error;
    const qint64 id = m_jobs->start(job, &error);
    if (id == 0)
        return Q_EMIT failed(error);
    m_current = id;
    m_loaded.ran();
    m_settings->setValue(SettingsKeys::LastRunOn, job.where);
    m_settings->setValue(SettingsKeys::LastProgram, job.program);
    m_settings->setValue(SettingsKeys::LastCores, choice.cores);
    follow();
}

void Launcher::follow()
{
    const Job *job = m_jobs->find(m_current);
    showRun(false);
    Q_EMIT outputFollowed(job->outputFile);
    m_jobs->follow(m_current);
    showProgress();
}

void Launcher::showRun(bool uploadable)
{
    RunShown run;
    run.uploadable = uploadable;
    if (const Job *job = m_jobs->find(m_current); job && Jobs::isActive(job->state)) {
        run.state = job->state == Jobs::State::Stopping ? RunShown::State::Stopping
                                                        : RunShown::State::Running;
        run.here = job->where == Jobs::thisComputer() && job->state != Jobs::State::Queued;
        run.uploadable = false;
    }
    Q_EMIT runShown(run);
}

void Launcher::showProgress()
{
    const Job *job = m_jobs->find(m_current);
    if (!job || !Jobs::isActive(job->state))
        return;
    if (job->state == Jobs::State::Stopping) {
        const QString program = job->stepProgram.isEmpty() ? job->program : job->stepProgram;
        return setStatus(QStringLiteral("Stopping %1...").arg(program));
    }
    if (job->state == Jobs::State::Submitted || job->state == Jobs::State::Queued)
        setStatus(
                (job->state == Jobs::State::Submitted ? tr("Submitted to %1") : tr("Queued on %1"))
                        .arg(placeName(job->where)),
                job->started);
    else if (job->step == 0 && job->where != Jobs::thisComputer())
        setStatus(QStringLiteral("Running on %1").arg(job->where), job->started);
    else if (job->step == 0)
        setStatus(job->started < m_began ? QStringLiteral("Running, started by an earlier launcher")
                                         : QStringLiteral("Running"),
                  job->started);
    else
        setStatus(stepText(*job), job->started);
}

QString Launcher::stepText(const Job &job)
{
    // The serial build that runs in place of a parallel one says so.
    const PlanStep *step = job.plan.step(job.step);
    if (step && job.stepProgram != step->program)
        return JobPlanner::fallbackText(*step);
    QString text = QStringLiteral("Step %1 of %2: %3")
                           .arg(job.step)
                           .arg(job.plan.stepCount())
                           .arg(job.stepProgram);
    if (job.where != Jobs::thisComputer())
        text += QStringLiteral(" on ") + job.where;
    return text;
}

void Launcher::setStatus(const QString &text, const QDateTime &since)
{
    // A job's every change would say the same again.
    if (text == m_status && since == m_status_since)
        return;
    m_status = text;
    m_status_since = since;
    Q_EMIT statusChanged(text, since);
}

void Launcher::stop()
{
    // Stopping a running job ends it, and its end brings the launcher back here.
    const Job *job = m_jobs->find(m_current);
    if (job && Jobs::isActive(job->state))
        m_jobs->stop(m_current);
}

void Launcher::stopJobs(const QList<qint64> &ids)
{
    // Queued jobs have nothing running to lose; the question is asked once for the others.
    const bool running = std::any_of(ids.cbegin(), ids.cend(), [this](qint64 id) {
        const Job *job = m_jobs->find(id);
        return job && !job->waits();
    });
    if (running && m_questions
        && m_questions->askStop(false) != LauncherQuestions::StopAnswer::Stop)
        return;
    for (const qint64 id : ids) {
        const Job *job = m_jobs->find(id);
        if (job && Jobs::isActive(job->state) && job->state != Jobs::State::Stopping)
            m_jobs->stop(id);
    }
}

void Launcher::ended(qint64 id, const JobOutcome &outcome)
{
    if (m_closing
        && !std::any_of(m_jobs->jobs().cbegin(), m_jobs->jobs().cend(),
                        [this](const Job &job) { return runsHere(job.id); }))
        return Q_EMIT closeReady();
    const Job *job = m_jobs->find(id);
    if (!job)
        return;
    const QString duration = Jobs::durationText(job->started.secsTo(job->ended));
    // A job the window let go of still says how it ended.
    if (id != m_current)
        return setStatus(tr("%1 on %2: %3")
                                 .arg(QFileInfo(job->deck).fileName(), placeName(job->where),
                                      Jobs::endText(outcome, duration)));
    Q_EMIT currentEnded();
    // The pane is complete, with its last line in view, once the launcher is idle.
    Q_EMIT outputCompleted(job->outputFile);
    showRun(m_loaded.isPortalJob());
    QString said = Jobs::endText(outcome, duration);
    if (job->usage.isKnown())
        said += QStringLiteral(" (%1)").arg(
                job->usage.text(job->cores, job->started.msecsTo(job->ended) / 1000.0));
    setStatus(said);
    if (!outcome.message.isEmpty())
        Q_EMIT failed(outcome.message, outcome.details);
}

void Launcher::upload()
{
    if (m_uploader->isBusy())
        return;
    showRun(false);
    setStatus(QStringLiteral("Uploading to Farbo..."));
    m_uploader->upload(m_loaded.workDir(), m_loaded.identity());
}

PackageConfig Launcher::packageConfig(const QString &where) const
{
    const PackageConfig local = SettingsKeys::packageConfig(*m_settings);
    for (const ClusterProfile &profile : m_profiles) {
        if (profile.name == where)
            return profile.packageConfig(local);
    }
    return local;
}

void Launcher::applySettings()
{
    m_jobs->setLimits(Jobs::thisComputer(), SettingsKeys::localLimits(*m_settings));
    const QList<ClusterProfile> profiles = SettingsKeys::clusterProfiles(*m_settings);
    const SshConfig ssh = SettingsKeys::sshConfig();
    for (const ClusterProfile &old : std::as_const(m_profiles)) {
        const bool kept
                = std::any_of(profiles.cbegin(), profiles.cend(),
                              [&old](const ClusterProfile &p) { return p.name == old.name; });
        if (!kept)
            m_jobs->setBackend(old.name, nullptr);
    }
    for (const ClusterProfile &profile : profiles) {
        const bool unchanged = std::any_of(
                m_profiles.cbegin(), m_profiles.cend(),
                [&profile](const ClusterProfile &p) { return sameProfile(p, profile); });
        if (unchanged)
            continue;
        JobQueue::Limits limits;
        limits.jobs = profile.maxSubmitted;
        m_jobs->setLimits(profile.name, limits);
        m_jobs->setBackend(profile.name, new ClusterBackend(profile, ssh));
    }
    m_profiles = profiles;
    Q_EMIT placesChanged();
}

Job Launcher::plannedJob(const QString &deck, const QString &program, int cores,
                         const QString &where, QString *refusal) const
{
    const QFileInfo info(deck);
    const Program *known = ProgramCatalog::find(program);
    Job job;
    job.deck = info.absoluteFilePath();
    job.workDir = info.absolutePath();
    job.program = program;
    job.cores = known && known->parallel ? cores : 1;
    job.where = where;
    job.title = firstLine(job.deck);
    const PlannedJob planned
            = JobPlanner::plan(packageConfig(where), program, job.deck, job.workDir, job.cores);
    job.plan = planned.plan;
    *refusal = JobFileImporter::refusal(job.deck);
    if (refusal->isEmpty())
        *refusal = planned.refusal;
    if (!refusal->isEmpty())
        *refusal = tr("%1: %2").arg(info.fileName(), *refusal);
    return job;
}

void Launcher::startEach(const QList<Job> &jobs, QStringList refused)
{
    QList<qint64> started;
    for (const Job &job : jobs) {
        QString error;
        if (const qint64 id = m_jobs->start(job, &error))
            started << id;
        else
            refused << tr("%1: %2").arg(QFileInfo(job.deck).fileName(), error);
    }
    // Told of once the last of them has ended.
    Q_EMIT batchStarted(started);
    setStatus(tr("%1 jobs started or queued; the Jobs tab lists them").arg(started.size()));
    if (!refused.isEmpty())
        Q_EMIT failed(tr("%1 of the decks cannot run.").arg(refused.size()),
                      refused.join(QLatin1Char('\n')));
}

void Launcher::runBatch(const QStringList &decks, const RunChoice &choice)
{
    QList<Job> batch;
    QStringList refused;
    int cores = 1;
    for (const QString &deck : decks) {
        // The program chosen where it runs this kind of deck, else the kind's first.
        const QStringList programs = ProgramCatalog::namesForDeck(QFileInfo(deck).suffix());
        const QString program
                = programs.contains(choice.program) ? choice.program : programs.value(0);
        QString refusal;
        const Job job = plannedJob(deck, program, choice.cores, choice.where, &refusal);
        if (!refusal.isEmpty()) {
            refused << refusal;
            continue;
        }
        cores = qMax(cores, job.cores);
        batch.append(job);
    }
    const QString question = (cores == 1 ? tr("Run %1 decks on %2, 1 core each?")
                                         : tr("Run %1 decks on %2, %3 cores each?").arg(cores))
                                     .arg(batch.size())
                                     .arg(placeName(choice.where));
    if (!batch.isEmpty() && m_questions && !m_questions->askBatch(question))
        return;
    startEach(batch, refused);
}

void Launcher::runAgain(const QList<qint64> &ids)
{
    // One job comes back into the window, as if started there.
    if (ids.size() == 1) {
        const qint64 id = ids.first();
        loadJob(id);
        const Job *job = m_jobs->find(id);
        if (m_current == id && job && !Jobs::isActive(job->state))
            start({ job->title, job->program, job->cores, job->where });
        return;
    }
    QList<Job> again;
    QStringList refused;
    for (const qint64 id : ids) {
        const Job *earlier = m_jobs->find(id);
        if (!earlier)
            continue;
        QString refusal;
        Job job = plannedJob(earlier->deck, earlier->program, earlier->cores, earlier->where,
                             &refusal);
        job.title = earlier->title;
        job.portal = earlier->portal;
        if (refusal.isEmpty())
            again << job;
        else
            refused << refusal;
    }
    startEach(again, refused);
}

Launcher::Closing Launcher::close()
{
    // Jobs being stopped need no question; closing waits for them as it does after Yes. Jobs
    // that an earlier launcher started are not this one's to end.
    QList<qint64> running;
    bool asked = false;
    for (const Job &job : m_jobs->jobs()) {
        if (!runsHere(job.id))
            continue;
        running.append(job.id);
        asked = asked || job.state != Jobs::State::Stopping;
    }
    using Answer = LauncherQuestions::StopAnswer;
    const Answer answer
            = asked && !m_closing && m_questions ? m_questions->askStop(true) : Answer::Stop;
    if (answer == Answer::Stay || (!m_closing && !releaseFolder()))
        return Closing::No;
    if (answer == Answer::Leave) {
        m_jobs->leaveRunning();
        return Closing::Now;
    }
    if (running.isEmpty())
        return Closing::Now;
    // Stopped as Stop does, with the program's own clean-up; the window goes once the last of
    // them has ended.
    m_closing = true;
    for (const qint64 id : std::as_const(running))
        m_jobs->stop(id);
    return Closing::Later;
}
