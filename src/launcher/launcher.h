// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef LAUNCHER_H
#define LAUNCHER_H

#include "cluster/clusterprofile.h"
#include "job/job.h"
#include "job/loadedjob.h"
#include "portal/jobfileimporter.h"
#include "portal/uploader.h"

#include <QDateTime>
#include <QObject>
#include <QStringList>
#include <QUrl>

#include <memory>

class JobManager;
class QFileSystemWatcher;
class QSettings;

// How a job is to run, as the run controls show it.
struct RunChoice
{
    QString title;
    QString program;
    // The Cores box; a serial program runs on one core whatever it says.
    int cores = 1;
    QString where;
};

// A deck as the Input tab shows it, with the choices that go with it.
struct DeckShown
{
    QString deck;
    QString workDir;
    QString title;
    // The programs that run this kind of deck; empty keeps the list shown.
    QStringList programs;
    RunChoice choice;
    // A job file was imported: its deck is what there is to see.
    bool imported = false;
};

// What the window's run controls show of its job.
struct RunShown
{
    enum class State { Idle, Running, Stopping };
    State state = State::Idle;
    // The job runs on this computer.
    bool here = false;
    // The loaded portal job's results can be sent.
    bool uploadable = false;
};

// What the user is asked by whatever shows the launcher; a window asks in dialogs.
class LauncherQuestions
{
public:
    enum class StopAnswer { Stop, Leave, Stay };

    virtual ~LauncherQuestions() = default;
    // Whether to stop the running job; closing may also leave it running.
    virtual StopAnswer askStop(bool closing) = 0;
    virtual bool askBatch(const QString &question) = 0;
    // Whether the loaded portal job's unsent results may go: kept elsewhere (keepFolder) or
    // discarded.
    virtual bool releaseFolder() = 0;
};

// The launcher without its window: the settings, the jobs and where they run, the queue, the
// deck loaded and the job followed. It takes the user's requests and says what there is to
// show in its signals; it asks its questions through LauncherQuestions.
class Launcher : public QObject
{
    Q_OBJECT

public:
    // The jobs are kept in dataDir; the step wrapper is looked for beside the program.
    explicit Launcher(const QString &dataDir = QString(), QObject *parent = nullptr);
    ~Launcher() override;

    void setQuestions(LauncherQuestions *questions) { m_questions = questions; }
    QSettings *settings() const { return m_settings.get(); }
    JobManager *jobs() const { return m_jobs; }
    Uploader *uploader() const { return m_uploader; }
    const LoadedJob &loaded() const { return m_loaded; }
    // The job of the window: the last one started there or picked in the Jobs tab, or 0.
    qint64 current() const { return m_current; }
    // The clusters of the settings, in their order.
    QStringList clusters() const;
    // The choice of the last job started.
    RunChoice remembered() const;

    // A deck, or a job file, as choosing it in the file dialog does.
    void open(const QString &path);
    // One file opens as open() does; several decks run as a batch of the choice's program
    // (or each kind's first), cores and place.
    void openMany(const QStringList &paths, const RunChoice &choice);
    void importJobFile(const QString &path);
    // The files the launcher was started with: one deck loads as if chosen, anything else
    // alone is a portal job file; several run as a batch.
    void openArguments(const QStringList &paths, const RunChoice &choice);
    void loadJob(qint64 id);
    // Start, or Stop once the user agrees while the window's job runs.
    void startOrStop(const RunChoice &choice);
    // Stops the window's job without asking.
    void stop();
    // Stops these jobs once the user agrees; queued ones have nothing to lose and end at once.
    void stopJobs(const QList<qint64> &ids);
    void runBatch(const QStringList &decks, const RunChoice &choice);
    // Each job again, planned anew: one in the window, several straight into the queue.
    void runAgain(const QList<qint64> &ids);
    void upload();
    // Moves the portal job's folder to target, where it is the user's.
    bool keepFolder(const QString &target, QString *error);
    // The files that dropping these opens: one deck or job file, or several decks run as a
    // batch; nothing when any of them is neither.
    static QStringList droppedFiles(const QList<QUrl> &urls);
    // Takes in the settings as they are now: limits, and a backend for each changed cluster.
    void applySettings();

    enum class Closing { Now, Later, No };
    // Whether the window may close: at once, No when the user stays, Later once the jobs it
    // stopped have ended (closeReady).
    Closing close();

Q_SIGNALS:
    void deckLoaded(const DeckShown &deck);
    // The deck's text as it is on disk.
    void deckTextChanged(const QString &text);
    void fileOpened(const QString &path);
    // The status line: the text, followed by the time since `since` where that is valid.
    void statusChanged(const QString &text, const QDateTime &since);
    void runShown(const RunShown &run);
    // The earlier output of the loaded deck; a path that is no file takes it away.
    void outputShown(const QString &path);
    // The window's job's output, followed from its beginning.
    void outputFollowed(const QString &path);
    // The job's next step writes its output afresh, to this file.
    void outputRestarted(const QString &path);
    void outputCompleted(const QString &path);
    void outputToFront();
    void failed(const QString &text, const QString &details = QString());
    void informed(const QString &text);
    // Said before what the upload's outcome brings.
    void uploadEnded(const Uploader::Outcome &outcome);
    void batchStarted(const QList<qint64> &ids);
    // A question about stopping the window's job has no subject any more.
    void currentEnded();
    void closeReady();
    void placesChanged();

private:
    void connectJobs();
    bool releaseFolder();
    // Lets the window's job go on by itself, so that another deck can be loaded.
    void letGo();
    void loadDeck(const QString &deck, const RunChoice &choice, bool imported = false);
    // Shows the deck as it is on disk.
    void reloadDeck();
    QString earlierOutput(const QString &program) const;
    void start(const RunChoice &choice);
    void follow();
    void ended(qint64 id, const JobOutcome &outcome);
    void showRun(bool uploadable);
    void showProgress();
    void setStatus(const QString &text, const QDateTime &since = QDateTime());
    // "Step 1 of 2: moltra", or what runs in place of a missing parallel build.
    static QString stepText(const Job &job);
    PackageConfig packageConfig(const QString &where) const;
    // A job of the deck as the settings plan it, and why it cannot run ("deck: why").
    Job plannedJob(const QString &deck, const QString &program, int cores, const QString &where,
                   QString *refusal) const;
    // Starts or queues each job; those refused are listed in one message with the others.
    void startEach(const QList<Job> &jobs, QStringList refused);
    bool runsHere(qint64 id) const;

    std::unique_ptr<QSettings> m_settings;
    JobManager *m_jobs = nullptr;
    Uploader *m_uploader = nullptr;
    QFileSystemWatcher *m_deck_watcher = nullptr;
    LauncherQuestions *m_questions = nullptr;
    QList<ClusterProfile> m_profiles;
    LoadedJob m_loaded;
    QString m_deck_text;
    qint64 m_current = 0;
    const QDateTime m_began = QDateTime::currentDateTime();
    QString m_status;
    QDateTime m_status_since;
    // Closing waits for the jobs it stopped.
    bool m_closing = false;
};

#endif
