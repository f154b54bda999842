// SPDX-License-Identifier: GPL-3.0-or-later
#include "cluster/slurmscript.h"

#include "job/programcatalog.h"
#include "job/shellwords.h"

#include <QFileInfo>
#include <QRegularExpression>

namespace {

QString q(const QString &word)
{
    return ShellWords::quote(word);
}

// The options that sbatch gets from the profile, for the test and for the script alike.
QStringList sbatchOptions(const ClusterProfile &profile, const Job &job)
{
    QString name = QFileInfo(job.deck).completeBaseName();
    // A job name stays one word on one line of the script.
    name.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9._-]")), QStringLiteral("_"));
    QStringList options{ QStringLiteral("--job-name=") + name,
                         QStringLiteral("--ntasks=%1").arg(qMax(1, job.cores)) };
    if (!profile.timeLimit.isEmpty())
        options.append(QStringLiteral("--time=") + profile.timeLimit);
    if (!profile.partition.isEmpty())
        options.append(QStringLiteral("--partition=") + profile.partition);
    if (!profile.account.isEmpty())
        options.append(QStringLiteral("--account=") + profile.account);
    return options;
}

QString quotedWords(const QStringList &words)
{
    QStringList quoted;
    for (const QString &word : words)
        quoted.append(q(word));
    return quoted.join(QLatin1Char(' '));
}

// The command line that starts a program of the package on the cluster.
QString programCommand(const ClusterProfile &profile, const PackageConfig &package,
                       const QString &programName)
{
    const QString executable = package.executablePath(programName);
    const Program *program = ProgramCatalog::find(programName);
    if (!program || !program->parallel)
        return q(executable);
    QString error;
    return quotedWords(ShellWords::split(profile.launcher, &error) + QStringList{ executable });
}

}

namespace SlurmScript {

QStringList stepPrograms(const Job &job)
{
    const Program *program = ProgramCatalog::find(job.program);
    if (!program || program->stepCount < 2)
        return { job.program };
    // The MOLTRA step of a parallel EVALIX job runs in parallel too.
    return { program->parallel ? QStringLiteral("Pmoltra") : QStringLiteral("moltra"),
             job.program };
}

QString prepare(const ClusterProfile &profile, const PackageConfig &package, const Job &job)
{
    QStringList lines{ QStringLiteral("refuse() { echo \"$1\"; exit %1; }").arg(Refused) };
    for (const QString &command :
         { QStringLiteral("sbatch"), QStringLiteral("squeue"), QStringLiteral("scancel") })
        lines.append(QStringLiteral("command -v %1 >/dev/null || refuse %2")
                             .arg(command, q(command + QStringLiteral(" is not installed"))));
    QStringList executables;
    for (const QString &program : stepPrograms(job))
        executables.append(package.executablePath(program));
    executables.removeDuplicates();
    for (const QString &executable : executables)
        lines.append(QStringLiteral("test -x %1 || refuse %2")
                             .arg(q(executable),
                                  q(QStringLiteral("there is no executable file %1 in the package "
                                                   "directory")
                                            .arg(executable))));
    lines.append(QStringLiteral("answer=$(sbatch --test-only %1 --wrap=true 2>&1) || refuse "
                                "\"Slurm refused the job: $answer\"")
                         .arg(quotedWords(sbatchOptions(profile, job))));
    const QString remoteDir = q(profile.folder());
    const QString jobDir = profile.jobDir(job.id);
    lines.append(
            QStringLiteral("mkdir -p -- %1 || refuse %2")
                    .arg(remoteDir,
                         q(QStringLiteral("the folder %1 cannot be made").arg(profile.remoteDir))));
    // An existing folder holds another job's files, perhaps of a ledger begun anew.
    lines.append(QStringLiteral("mkdir -- %1 2>/dev/null || refuse %2")
                         .arg(jobDir,
                              q(QStringLiteral("the job folder %1/%2 exists already")
                                        .arg(profile.remoteDir, QString::number(job.id)))));
    return lines.join(QLatin1Char('\n'));
}

QString submit(const ClusterProfile &profile, const Job &job)
{
    // The guard file is made once: a second submission of the same job is refused.
    return QStringLiteral("cd -- %1 && (set -o noclobber && : > moltra.submitted) 2>/dev/null "
                          "|| { echo 'the job was submitted already'; exit %2; }\n"
                          "cat > moltra-job.sh && sbatch --parsable moltra-job.sh > %3.new "
                          "&& mv %3.new %3 && cat %3")
            .arg(profile.jobDir(job.id), QString::number(Refused), idFile());
}

QByteArray jobScript(const ClusterProfile &profile, const PackageConfig &package, const Job &job)
{
    QStringList lines{ QStringLiteral("#!/bin/bash") };
    for (const QString &option : sbatchOptions(profile, job))
        lines.append(QStringLiteral("#SBATCH ") + option);
    lines.append(QStringLiteral("#SBATCH --output=slurm-%j.log"));
    if (!profile.setup.trimmed().isEmpty())
        lines.append(profile.setup.trimmed());
    const QString status = statusFile();
    lines += {
        // Each step reads its deck and writes its output and error output as a local step
        // does; the first that fails ends the job, and the status of the last one is kept.
        QStringLiteral("step() {"),
        QStringLiteral("    local number=$1 input=$2 output=$3; shift 3"),
        QStringLiteral("    \"$@\" < \"$input\" > \"$output\" 2> \"$output.err\""),
        QStringLiteral("    local status=$?"),
        QStringLiteral("    [ -s \"$output.err\" ] || rm -f \"$output.err\""),
        QStringLiteral("    if [ $status -ne 0 ]; then echo \"$number $status\" > %1.new; "
                       "mv %1.new %1; exit $status; fi")
                .arg(status),
        QStringLiteral("}"),
    };
    const QString deck = QFileInfo(job.deck).fileName();
    const QString output = QFileInfo(job.outputFile).fileName();
    const QStringList programs = stepPrograms(job);
    if (programs.size() == 2) {
        const QString moltraDeck = QFileInfo(job.deck).baseName() + QStringLiteral(".d12");
        lines += {
            QStringLiteral("if [ ! -e fort.9 ]; then"),
            QStringLiteral("    step 1 %1 %2 %3")
                    .arg(q(moltraDeck), q(output + QStringLiteral(".out")),
                         programCommand(profile, package, programs.first())),
            QStringLiteral("    [ -e fort.9 ] || { echo '1 nofort9' > %1.new; mv %1.new %1; "
                           "exit 1; }")
                    .arg(status),
            QStringLiteral("fi"),
        };
    }
    lines.append(
            QStringLiteral("step %1 %2 %3 %4")
                    .arg(programs.size())
                    .arg(q(deck), q(output), programCommand(profile, package, programs.last())));
    lines.append(
            QStringLiteral("echo '%1 0' > %2.new; mv %2.new %2").arg(programs.size()).arg(status));
    return lines.join(QLatin1Char('\n')).toUtf8() + '\n';
}

}
