// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef JOBPLAN_H
#define JOBPLAN_H

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// One step of a job: a program of the package run on a deck in the working directory.
struct PlanStep
{
    int number = 1;
    // The name the user knows it by, and the build's executable file.
    QString program;
    QString executable;
    // What is started: the executable, or an MPI launcher's words ending in it.
    QStringList command;
    // A parallel build that is not installed where the job runs: this serial build runs instead.
    QString fallbackProgram;
    QString fallbackExecutable;
    // Names in the working directory: its deck (standard input) and output (standard
    // output); its error output goes beside the output.
    QString input;
    QString output;
    // Runs only while the working directory holds no fort.9 ...
    bool onlyWithoutFort9 = false;
    // ... and must leave one, or the job ends.
    bool mustLeaveFort9 = false;
};

// What a job runs, made once when it starts and kept with it: every place that runs the job
// runs these steps and nothing else.
struct JobPlan
{
    QString deck;
    QString workDir;
    // The job's output, where the launcher shows it.
    QString output;
    QList<PlanStep> steps;

    bool isEmpty() const { return steps.isEmpty(); }
    // The number of the job's last step: two for an EVALIX job, which may run MOLTRA first.
    int stepCount() const { return steps.isEmpty() ? 0 : steps.last().number; }
    const PlanStep *step(int number) const;
    // The files a job needs besides its deck: companions its steps read, where they are.
    QStringList inputFiles() const;

    QByteArray toJson() const;
    // An empty plan from text that is not one.
    static JobPlan fromJson(const QByteArray &json);
};

namespace JobFiles {

// Error output is kept beside the output file, under its name followed by this.
inline QString errorFileOf(const QString &outputFile)
{
    return outputFile + QStringLiteral(".err");
}
// The one earlier generation of an output (or error output) that a run replaces.
inline QString backupOf(const QString &file)
{
    return file + QLatin1Char('~');
}

}

#endif
