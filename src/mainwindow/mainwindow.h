// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef MAINWINDOW_H
#define MAINWINDOW_H

#include "job/job.h"
#include "job/loadedjob.h"
#include "job/programcatalog.h"
#include "portal/jobfileimporter.h"
#include "portal/uploader.h"

#include <QMainWindow>
#include <QPointer>
#include <QUrl>

#include <memory>

class JobManager;
class JobsTab;
class Keyboard;
class Notifier;
class OutputView;
class RecentFiles;
class RunControls;
class RunOn;
class UploadProgress;
class QFileSystemWatcher;
class QMimeData;
class QMessageBox;
class QSettings;
class QTimer;

namespace Ui {
class MainWindow;
}

class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // Opens a deck, or imports a portal job file, as choosing it in the file dialog does.
    void openFile(const QString &l_path);
    // One file opens as openFile does; several decks run as a batch.
    void openFiles(const QStringList &l_paths);
    void loadInputFile(const QString &l_path);
    void importJobFile(const QString &l_path);

    // Where Upload sends the job's files; the portal's endpoint unless changed.
    void setUploadUrl(const QUrl &l_url);
    // The folder that "Open working directory" shows: the one holding the input deck.
    QUrl workdirUrl() const;
    // The deck or job file that dropping this data opens: one local file of a kind the
    // launcher opens, or nothing.
    static QString droppedFile(const QMimeData *l_data);
    // The files that dropping this data opens: one deck or job file, or several decks run as
    // a batch; nothing when any of them is neither.
    static QStringList droppedFiles(const QMimeData *l_data);
    // Each deck becomes a job of the program shown (or its kind's first), on the cores and
    // the place shown, once the user agrees.
    void runBatch(const QStringList &l_decks);
    // Each job again, planned anew: one in the window, several straight into the queue.
    void runAgain(const QList<qint64> &l_ids);

public Q_SLOTS:
    // Files of a later start of the launcher: opened, and the window comes to the front.
    void takeFiles(const QStringList &l_files);
    void afterWindowShown();
    void changeProgram(const QString &l_program);
    void changeSettings();
    void chooseFile();
    void openWorkdir();
    void startJob();
    void stopJob();
    void updateProgress();
    void uploadOutput();
    void uploadOutputReply(const Uploader::Outcome &l_outcome);

protected:
    void closeEvent(QCloseEvent *event) override;
    bool focusNextPrevChild(bool next) override;
    void showEvent(QShowEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    void setUpControls();
    void connectControls();
    void importCommandLineJob();
    void setUpTimer();
    void setUpKeyboard();

    void setUpJobs();
    bool isRunning() const;
    bool isStopping() const;
    // Lets the window's job go on by itself, so that another deck can be loaded.
    void letGoOfJob();
    enum class StopAnswer { Stop, Leave, Stay };
    bool confirmStop();
    // Closing offers to leave the jobs running as well.
    StopAnswer askStop(bool closing);
    // "this computer", or the cluster's name.
    static QString placeName(const QString &l_where);
    void requestStop();
    void enterRunningState();
    void jobEnded(const JobOutcome &l_outcome);
    void loadJob(qint64 l_id);
    void setStatus(const QString &l_text);
    QString elapsed() const;
    // "Step 1 of 2: moltra", or what runs in place of a missing parallel build.
    QString stepText(const Job &l_job) const;
    void refreshOutput();
    void showDeckOutput();
    // Shows the deck as it is on disk.
    void reloadDeck();
    void adoptJob(ImportedJob &&l_job);
    bool releaseJobFolder();
    void critical(const QString &l_text, const QString &l_details = QString());
    // A job of the deck as the settings plan it, and why it cannot run ("deck: why").
    Job plannedJob(const QString &l_deck, const QString &l_program, int l_cores,
                   const QString &l_where, QString *l_refusal) const;
    // Starts or queues each job; those refused are listed in one message with the others.
    void startEach(const QList<Job> &l_jobs, QStringList l_refused);

    // The deck shown, with its portal job, and the job of this window: the last one started
    // here or picked in the Jobs tab.
    LoadedJob m_loaded;
    qint64 m_current = 0;
    QSettings *m_settings = nullptr;
    QTimer *m_timer = nullptr;
    Ui::MainWindow *ui = nullptr;

    JobManager *m_jobs = nullptr;
    JobsTab *m_jobs_tab = nullptr;
    RecentFiles *m_recent_files = nullptr;
    RunControls *m_run_controls = nullptr;
    RunOn *m_run_on = nullptr;
    Keyboard *m_keyboard = nullptr;
    Notifier *m_notifier = nullptr;
    OutputView *m_output = nullptr;
    Uploader *m_uploader = nullptr;
    QFileSystemWatcher *m_deck_watcher = nullptr;
    QPointer<QMessageBox> m_question;
    QPointer<UploadProgress> m_progress;
    bool m_startup_question_queued = false;
    // Closing waits for the jobs it stopped.
    bool m_close_when_stopped = false;
};

#endif
