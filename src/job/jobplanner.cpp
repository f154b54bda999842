// SPDX-License-Identifier: GPL-3.0-or-later
#include "job/jobplanner.h"

#include "job/programcatalog.h"
#include "job/shellwords.h"

#include <QFileInfo>

namespace {

PlanStep stepOf(const PackageConfig &config, const Program &program, int cores, QString *refusal)
{
    PlanStep step;
    step.program = program.name;
    step.executable = config.executablePath(program.name);
    step.command = QStringList{ step.executable };
    if (!program.parallel)
        return step;
    QStringList words{ config.mpiLauncher };
    // A batch system's launcher takes the cores from the job's allocation.
    if (!config.mpiCoresOption.isEmpty())
        words += { config.mpiCoresOption, QString::number(cores) };
    QString error;
    words += ShellWords::split(config.mpiArguments, &error);
    if (!error.isEmpty())
        *refusal = QStringLiteral("The extra arguments for the MPI launcher cannot be read: "
                                  "%1. Correct them in Settings, \"Parallel runs\".")
                           .arg(error);
    step.command = words + QStringList{ step.executable };
    step.fallbackProgram = program.serial;
    step.fallbackExecutable = config.executablePath(program.serial);
    return step;
}

}

namespace JobPlanner {

PlannedJob plan(const PackageConfig &config, const QString &programName, const QString &deck,
                const QString &workDir, int cores)
{
    PlannedJob job;
    const Program *program = ProgramCatalog::find(programName);
    if (!program) {
        job.refusal = QStringLiteral("Nothing to start!");
        return job;
    }
    // An EVALIX job must run on a .d3 deck and a MOLTRA job on any other, or its steps never end.
    if (!ProgramCatalog::fits(*program, deck)) {
        job.refusal = QStringLiteral("The program %1 does not fit the input file %2. Choose a .d12 "
                                     "input file for MOLTRA or a .d3 input file for EVALIX.")
                              .arg(program->name, QFileInfo(deck).fileName());
        return job;
    }
    if (program->parallel && cores < 1) {
        job.refusal = QStringLiteral("%1 needs at least one core. Choose the number of cores.")
                              .arg(program->name);
        return job;
    }
    const QString base = QFileInfo(deck).baseName();
    const QString output = base + program->outputSuffix;
    job.plan.deck = deck;
    job.plan.workDir = workDir;
    job.plan.output = workDir + QLatin1Char('/') + output;
    if (program->stepCount == 2) {
        // The MOLTRA step of a Pevalix job runs in parallel too, where it can.
        const Program *moltra = ProgramCatalog::find(program->parallel ? QStringLiteral("Pmoltra")
                                                                       : QStringLiteral("moltra"));
        PlanStep first = stepOf(config, *moltra, cores, &job.refusal);
        first.input = base + QStringLiteral(".d12");
        first.output = output + QStringLiteral(".out");
        first.onlyWithoutFort9 = true;
        first.mustLeaveFort9 = true;
        job.plan.steps.append(first);
    }
    PlanStep last = stepOf(config, *program, cores, &job.refusal);
    last.number = program->stepCount;
    // A deck outside the working directory is read where it is.
    const QFileInfo deckInfo(deck);
    last.input = QFileInfo(deckInfo.absolutePath()) == QFileInfo(workDir)
            ? deckInfo.fileName()
            : deckInfo.absoluteFilePath();
    last.output = output;
    job.plan.steps.append(last);
    if (!job.refusal.isEmpty())
        job.plan = JobPlan();
    return job;
}

QString fallbackText(const PlanStep &step)
{
    return QStringLiteral("%1 is not installed: running %2 on one core")
            .arg(step.program, step.fallbackProgram);
}

}
