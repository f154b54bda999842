#ifndef MAINWINDOW_H
#define MAINWINDOW_H

#include "mainwindow/outputfollower.h"

#include <QMainWindow>
#include <QStringList>
#include <QUrl>

class QMovie;
class QProcess;
class QSettings;
class QTemporaryDir;
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

    void loadInputFile(const QString &l_path);
    void importJobFile(const QString &l_path);
    QString createJobFolder();

    // Where Upload sends the job's files; the portal's endpoint unless changed.
    void setUploadUrl(const QUrl &l_url);
    // The folder that "Open working directory" shows: the one holding the input deck.
    QUrl workdirUrl() const;

public Q_SLOTS:
    void afterWindowShown();
    void changeProgram(const QString &l_program);
    void changeSettings();
    void chooseFile();
    void openWorkdir();
    void startJob();
    void execute_d12(QString l_input_file, QString l_output_file, QString l_program);
    void execute_d3(QString l_input_file, QString l_output_file, QString l_program);
    void compute();
    void stepDone();
    void stopJob();
    void updateProgress();
    void uploadOutput();
    void uploadOutputReply();

protected:
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void setUpControls();
    void connectControls();
    void setUpOutputTab();
    void setUpLoader();
    void importCommandLineJob();
    void setUpTimer();

    bool isRunning() const;
    bool confirmStop();
    void requestStop();
    bool enterRunningState();
    void pushBusyCursor();
    void popBusyCursor();
    void launchStep(const QString &l_input_file, const QString &l_output_file,
                    const QString &l_program, const QString &l_failure);
    void stepFailedToStart(QProcess *l_process, const QString &l_failure);
    enum class Ending { Terminate, Kill };
    void endProcessGroup(QProcess *l_process, Ending l_ending);
    void endRunningSteps();
    void refreshOutput(bool l_follow_end);

    bool writeJobFile(const QString &l_name, const QString &l_content);
    void startUpload(int l_attempt);
    static const QUrl defaultUploadUrl;
    void critical(const QString &l_text);

    QString m_input_file;
    int m_job_id = 0;
    QString m_last_dir;
    QMovie *m_loader = nullptr;
    QString m_job_output;
    QString m_output_file;
    QWidget *m_output_tab = nullptr;
    QProcess *m_process = nullptr;
    QSettings *m_settings = nullptr;
    QTimer *m_timer = nullptr;
    Ui::MainWindow *ui = nullptr;
    int m_user_id = 0;
    QTemporaryDir *m_temp_dir = nullptr;
    QString m_user_token;
    QString m_work_dir;
    QString m_job_binary;
    QStringList m_arguments;
    bool m_flag_d3 = false;
    int m_step_count = 0;
    int m_step = 0;

    OutputFollower m_follower;
    bool m_busy_cursor = false;
    QUrl m_upload_url;
};

#endif
