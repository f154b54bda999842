// SPDX-License-Identifier: GPL-3.0-or-later
#include "job/jobplanner.h"

#include "job/programcatalog.h"
#include "job/shellwords.h"

#include <QFileInfo>

namespace {

StepCommand stepCommand(const PackageConfig &config, const Program &program, int cores,
                        QString *fallback, QString *refusal)
{
    const QString parallel = config.executablePath(program.name);
    if (program.parallel && !JobRunner::findExecutable(parallel).isEmpty()) {
        QStringList arguments{ config.mpiCoresOption, QString::number(cores) };
        QString error;
        arguments += ShellWords::split(config.mpiArguments, &error);
        if (!error.isEmpty())
            *refusal = QStringLiteral("The extra arguments for the MPI launcher cannot be read: "
                                      "%1. Correct them in Settings, \"Parallel runs\".")
                               .arg(error);
        arguments.append(parallel);
        return { program.name, config.mpiLauncher, arguments };
    }
    if (program.parallel && fallback) {
        *fallback = QStringLiteral("%1 is not installed: running %2 on one core")
                            .arg(program.name, program.serial);
    }
    return { program.serial, config.executablePath(program.serial), {} };
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
    job.plan.command = stepCommand(config, *program, cores, &job.note, &job.refusal);
    if (!job.refusal.isEmpty())
        return job;
    if (program->parallel && job.plan.command.name == program->name && cores < 1) {
        job.refusal = QStringLiteral("%1 needs at least one core. Choose the number of cores.")
                              .arg(program->name);
        return job;
    }
    job.plan.deck = deck;
    job.plan.workDir = workDir;
    job.plan.output
            = workDir + QLatin1Char('/') + QFileInfo(deck).baseName() + program->outputSuffix;
    job.plan.stepCount = program->stepCount;
    // The MOLTRA step of a Pevalix job runs in parallel too, where it can.
    const Program *moltra = ProgramCatalog::find(program->parallel ? QStringLiteral("Pmoltra")
                                                                   : QStringLiteral("moltra"));
    job.plan.moltraCommand = stepCommand(config, *moltra, cores, nullptr, &job.refusal);
    return job;
}

}
