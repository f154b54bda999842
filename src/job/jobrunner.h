// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef JOBRUNNER_H
#define JOBRUNNER_H

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

class QProcess;

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
    // An EVALIX deck: the job may first run MOLTRA on the companion .d12 deck.
    bool flagD3 = false;
    StepCommand command;
    QString output;
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
    enum class Ending { Finished, Failed, NoFort9, FailedToStart, Stopped };
    Q_ENUM(Ending)

    struct Outcome
    {
        Ending ending = Ending::Finished;
        // Short, for a status line: "moltra exited with code 3", or the program not started.
        QString reason;
        // For a message box; empty when the job ended well or was stopped.
        QString message;
    };

    // How long a stopped step's process group may take to end before it is killed.
    static constexpr int StopGraceMs = 5000;
    // Error output is kept beside the output file, under its name followed by this.
    static QString errorFileOf(const QString &outputFile)
    {
        return outputFile + QStringLiteral(".err");
    }

    // The executable file that a program path or a bare name on PATH stands for, or empty.
    static QString findExecutable(const QString &program);

    explicit JobRunner(QObject *parent = nullptr);
    ~JobRunner() override;

    bool isRunning() const { return m_running; }
    int step() const { return m_step; }
    int stepCount() const { return m_plan.stepCount; }
    // The name of the running step's program.
    QString program() const { return m_command.name; }
    QString outputFile() const { return m_output_file; }

    // Makes the job current; nothing runs before compute().
    void begin(const JobPlan &plan);
    // Launches the step that is due.
    void compute();
    void execute(const QString &inputFile, const QString &outputFile, const StepCommand &command,
                 const QString &failure);
    // Takes in the end of the running step's process: the next step, or the job's end.
    void stepDone();
    // Asks the running step's process group to end, ends the job at once, and kills what is
    // left of the group after the grace period.
    void stop();

Q_SIGNALS:
    void stepStarted(int step, const QString &outputFile);
    void jobEnded(const JobRunner::Outcome &outcome);

private:
    void end(Ending ending, const QString &reason = QString(), const QString &message = QString());
    void failedToStart(const QString &failure, const QString &error);
    void forgetEndedGroups();

    JobPlan m_plan;
    bool m_running = false;
    int m_step = 0;
    StepCommand m_command;
    QString m_output_file;
    QProcess *m_process = nullptr;
    // Process groups of this runner's steps, with members possibly left after their leader.
    QList<qint64> m_groups;
};

#endif
