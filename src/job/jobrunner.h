// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef JOBRUNNER_H
#define JOBRUNNER_H

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

class QProcess;
class QTimer;

// What one step starts: a program with its arguments, under the name the user knows it by.
struct StepCommand
{
    QString name;
    QString program;
    QStringList arguments;
};

// What a job runs, fixed when it starts.
struct JobPlan
{
    QString deck;
    QString workDir;
    StepCommand command;
    QString output;
    // Two for an EVALIX job, which may first run MOLTRA on the companion .d12 deck.
    int stepCount = 1;
    // Step 1 of an EVALIX job, when fort.9 is missing.
    StepCommand moltraCommand;
};

// Runs the steps of one job at a time, each as a child process in its own process group with
// its standard error in a file beside its output, and says how the job ended.
class JobRunner : public QObject
{
    Q_OBJECT

public:
    // Unknown: the job was seen to end, but not how (its process was not the launcher's child).
    enum class Ending { Finished, Failed, NoFort9, FailedToStart, Stopped, Unknown };
    Q_ENUM(Ending)

    struct Outcome
    {
        Ending ending = Ending::Finished;
        // Short, for a status line: "moltra exited with code 3", or the program not started.
        QString reason;
        // For a message box; empty when the job ended well or was stopped.
        QString message;
        // The end of the failed step's error output, for the message box's details.
        QString details;
        // Of the step that ended the job: its exit code, or the signal that killed it.
        int exitCode = -1;
        int signal = 0;
    };

    // How long a stopped step's process group may take to end before it is killed, and how
    // long the killed group may take to be gone before the job ends all the same.
    static constexpr int StopGraceMs = 5000;
    static constexpr int KillWaitMs = 3000;
    // Of the error output, the details of a failure show at most this much, from its end.
    static constexpr qint64 DetailsLimit = 64 * 1024;
    // Error output is kept beside the output file, under its name followed by this.
    static QString errorFileOf(const QString &outputFile)
    {
        return outputFile + QStringLiteral(".err");
    }
    // The one earlier generation of an output (or error output) that a run replaces.
    static QString backupOf(const QString &file) { return file + QLatin1Char('~'); }

    // The executable file that a program path or a bare name on PATH stands for, or empty.
    static QString findExecutable(const QString &program);

    explicit JobRunner(QObject *parent = nullptr);
    ~JobRunner() override;

    // Running lasts until the stopped step's whole process group is gone.
    bool isRunning() const { return m_running; }
    bool isStopping() const { return m_stopping; }
    int step() const { return m_step; }
    int stepCount() const { return m_plan.stepCount; }
    // The name of the running step's program.
    QString program() const { return m_command.name; }
    QString outputFile() const { return m_output_file; }

    // Makes the job current; nothing runs before compute(). Refused while a job runs or stops.
    bool begin(const JobPlan &plan);
    // Launches the step that is due.
    void compute();
    void execute(const QString &inputFile, const QString &outputFile, const StepCommand &command,
                 const QString &failure);
    // Takes in the end of the running step's process: the next step, or the job's end.
    void stepDone();
    // Asks the running step's process group to end and kills what is left of it after the
    // grace period; the job ends once the group is gone.
    void stop();

Q_SIGNALS:
    void stepStarted(int step, const QString &outputFile);
    // The started step's process group, which lives as long as any process of it.
    void groupStarted(qint64 group);
    void stopping();
    void jobEnded(const JobRunner::Outcome &outcome);

private:
    void end(Outcome outcome);
    void failedToStart(const QString &failure, const QString &error);
    bool keepPreviousOutput(const QString &outputFile, QString *error);
    void checkStopped();
    void forgetEndedGroups();

    JobPlan m_plan;
    bool m_running = false;
    int m_step = 0;
    StepCommand m_command;
    QString m_output_file;
    QProcess *m_process = nullptr;
    bool m_stopping = false;
    qint64 m_stopped_group = 0;
    QTimer *m_stop_timer = nullptr;
    QElapsedTimer m_stop_clock;
    // Counts the jobs, so that a late word about one is not taken for a later one's.
    quint64 m_job = 0;
    // Earlier outputs this job moved to their backup names.
    QStringList m_backups;
    // Process groups of this runner's steps, with members possibly left after their leader.
    QList<qint64> m_groups;
};

#endif
