// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef MAINWINDOW_H
#define MAINWINDOW_H

#include "launcher/launcher.h"

#include <QMainWindow>

class InputTab;
class JobsTab;
class Keyboard;
class Notifier;
class OutputView;
class RecentFiles;

namespace Ui {
class MainWindow;
}

// The launcher's window: it shows what the launcher says and hands it the user's requests.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    // A window made without a launcher makes its own.
    explicit MainWindow(QWidget *parent = nullptr);
    explicit MainWindow(Launcher *launcher, QWidget *parent = nullptr);
    ~MainWindow() override;

    // Opens a deck, or imports a portal job file, as choosing it in the file dialog does.
    void openFile(const QString &l_path);
    // One file opens as openFile does; several decks run as a batch.
    void openFiles(const QStringList &l_paths);
    void importJobFile(const QString &l_path);
    // Where Upload sends the job's files; the portal's endpoint unless changed.
    void setUploadUrl(const QUrl &l_url);

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
    // Takes in what the followed output file gained.
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
    void connectLauncher();
    void connectControls();
    void critical(const QString &l_text, const QString &l_details = QString());

    Ui::MainWindow *ui = nullptr;
    Launcher *m_launcher = nullptr;
    JobsTab *m_jobs_tab = nullptr;
    InputTab *m_input = nullptr;
    RecentFiles *m_recent_files = nullptr;
    Keyboard *m_keyboard = nullptr;
    Notifier *m_notifier = nullptr;
    OutputView *m_output = nullptr;
    bool m_startup_question_queued = false;
};

#endif
