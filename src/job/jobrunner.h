#ifndef JOBRUNNER_H
#define JOBRUNNER_H

#include <QObject>
#include <QString>

#include <functional>

class QProcess;

// What a job runs, fixed when it starts.
struct JobPlan
{
    QString deck;
    QString workDir;
    // An EVALIX deck: the job may first run MOLTRA on the companion .d12 deck.
    bool flagD3 = false;
    QString executable;
    QString output;
    int stepCount = 1;
    // Step 1 of an EVALIX job looks up the MOLTRA executable when the step starts.
    std::function<QString()> moltraExecutable;
};

// Runs the steps of one job at a time, each as a child process in its own process group, and
// says when a step starts and how the job ended.
class JobRunner : public QObject
{
    Q_OBJECT

public:
    enum class Ending { Finished, NoFort9, FailedToStart, Stopped };
    Q_ENUM(Ending)

    explicit JobRunner(QObject *parent = nullptr);
    ~JobRunner() override;

    bool isRunning() const { return m_running; }
    int step() const { return m_step; }
    QString outputFile() const { return m_output_file; }

    // Makes the job current; nothing runs before compute().
    void begin(const JobPlan &plan);
    // Launches the step that is due.
    void compute();
    void execute(const QString &inputFile, const QString &outputFile, const QString &program,
                 const QString &failure);
    void stepDone();
    // Asks the running step's process group to end and ends the job at once.
    void stop();

Q_SIGNALS:
    void stepStarted(int step, const QString &outputFile);
    void jobEnded(JobRunner::Ending ending, const QString &message);

private:
    enum class Signal { Terminate, Kill };
    static void signalGroup(QProcess *process, Signal signal);
    void end(Ending ending, const QString &message = QString());
    void failedToStart(QProcess *process, const QString &failure);

    JobPlan m_plan;
    bool m_running = false;
    int m_step = 0;
    QString m_output_file;
    QProcess *m_process = nullptr;
};

#endif
