// SPDX-License-Identifier: GPL-3.0-or-later
#include "job/jobstatus.h"

#include <QFile>
#include <QRegularExpression>

#ifdef Q_OS_UNIX
#include <csignal>
#endif

namespace {

// Of the error output, the details of a failure show at most this much, from its end.
constexpr qint64 DetailsLimit = 64 * 1024;

// "1733612345.123456789", or whole seconds where date has no %N.
QDateTime timeOf(const QString &word)
{
    bool ok = false;
    const qint64 seconds = word.section(QLatin1Char('.'), 0, 0).toLongLong(&ok);
    if (!ok)
        return QDateTime();
    const int millis = word.section(QLatin1Char('.'), 1).left(3).leftJustified(3, u'0').toInt();
    return QDateTime::fromMSecsSinceEpoch(seconds * 1000 + millis);
}

// "0m1.230s" as the shell's times prints it.
double secondsOf(const QString &word)
{
    static const QRegularExpression pattern(QStringLiteral("^(\\d+)m([\\d.]+)s$"));
    const QRegularExpressionMatch match = pattern.match(word);
    if (!match.hasMatch())
        return -1;
    return match.captured(1).toDouble() * 60 + match.captured(2).toDouble();
}

QString signalName(int number)
{
#ifdef Q_OS_UNIX
    static const QList<QPair<int, const char *>> names = {
        { SIGHUP, "SIGHUP" },   { SIGINT, "SIGINT" },   { SIGQUIT, "SIGQUIT" },
        { SIGILL, "SIGILL" },   { SIGTRAP, "SIGTRAP" }, { SIGABRT, "SIGABRT" },
        { SIGBUS, "SIGBUS" },   { SIGFPE, "SIGFPE" },   { SIGKILL, "SIGKILL" },
        { SIGUSR1, "SIGUSR1" }, { SIGSEGV, "SIGSEGV" }, { SIGUSR2, "SIGUSR2" },
        { SIGPIPE, "SIGPIPE" }, { SIGALRM, "SIGALRM" }, { SIGTERM, "SIGTERM" },
        { SIGXCPU, "SIGXCPU" }, { SIGXFSZ, "SIGXFSZ" },
    };
    for (const auto &[signal, name] : names) {
        if (signal == number)
            return QLatin1String(name);
    }
#endif
    return QStringLiteral("signal %1").arg(number);
}

// The end of the file, at most `limit` bytes of it, read from its end only.
QString tailOf(const QString &path, qint64 limit)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    file.seek(qMax<qint64>(0, file.size() - limit));
    return QString::fromUtf8(file.read(limit));
}

// At most the last 20 lines of the file.
QString lastLines(const QString &path)
{
    QStringList lines = tailOf(path, 16 * 1024).split(QLatin1Char('\n'));
    while (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines.mid(qMax<qsizetype>(0, lines.size() - 20)).join(QLatin1Char('\n'));
}

JobStatus::Step &stepOf(JobStatus::Record &record, int number)
{
    if (record.steps.isEmpty() || record.steps.last().number != number) {
        record.steps.append(JobStatus::Step());
        record.steps.last().number = number;
    }
    return record.steps.last();
}

}

namespace JobStatus {

Record parse(const QByteArray &text)
{
    Record record;
    const QList<QByteArray> lines = text.split('\n');
    if (lines.value(0) != "moltra-status 1")
        return record;
    for (const QByteArray &line : lines.mid(1)) {
        const QStringList words = QString::fromUtf8(line).split(QLatin1Char(' '));
        const QString what = words.value(words.first() == QLatin1String("step") ? 2 : 0);
        bool ok = true;
        const int number = words.value(1).toInt(&ok);
        if (words.first() == QLatin1String("end") && words.size() == 3) {
            record.end = words.at(2);
            record.ended = timeOf(words.at(1));
        } else if (words.first() != QLatin1String("step") || !ok || number < 1) {
            if (!line.isEmpty())
                return Record();
        } else if (what == QLatin1String("start")) {
            stepOf(record, number).started = timeOf(words.value(3));
        } else if (what == QLatin1String("end") && words.size() >= 8) {
            Step &step = stepOf(record, number);
            step.ended = timeOf(words.at(3));
            step.status = words.at(4).toInt();
            // The shell's children so far: all the job's steps up to this one.
            const double user = secondsOf(words.at(5));
            const double system = secondsOf(words.at(6));
            if (user >= 0 && system >= 0)
                record.usage.cpuSeconds = user + system;
            const qint64 peak = words.at(7).toLongLong(&ok);
            if (ok)
                record.usage.peakKiB = qMax(record.usage.peakKiB, peak);
            // A step ended by a signal (Stop among them) may leave processes that nobody
            // reaped, such as an MPI job's ranks: their share would be missing.
            if (step.status > 128)
                record.usage = JobUsage();
        } else if (what == QLatin1String("fallback")) {
            stepOf(record, number).fallback = true;
        } else if (what == QLatin1String("kept")) {
            stepOf(record, number).kept = true;
        } else {
            stepOf(record, number).trouble = what;
        }
    }
    record.valid = true;
    return record;
}

Record read(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? parse(file.readAll()) : Record();
}

QString programOf(const Step &step, const JobPlan &plan)
{
    const PlanStep *planned = plan.step(step.number);
    if (!planned)
        return QString();
    return step.fallback ? planned->fallbackProgram : planned->program;
}

JobOutcome outcomeOf(const Record &record, const JobPlan &plan, bool stopping)
{
    JobOutcome outcome = outcomeOf(record, plan);
    if (!stopping || outcome.ending == Jobs::Ending::Finished)
        return outcome;
    // Whatever the record says of a step that the stop ended, the user stopped it.
    outcome.ending = Jobs::Ending::Stopped;
    outcome.reason.clear();
    outcome.message.clear();
    outcome.details.clear();
    if (!outcome.ended.isValid())
        outcome.ended = QDateTime::currentDateTime();
    return outcome;
}

JobOutcome outcomeOf(const Record &record, const JobPlan &plan)
{
    JobOutcome outcome;
    outcome.ended = record.ended;
    outcome.usage = record.usage;
    if (!record.steps.isEmpty())
        outcome.started = record.steps.first().started;
    const Step empty;
    const Step &step = record.last() ? *record.last() : empty;
    const PlanStep *planned = plan.step(step.number);
    const QString program = programOf(step, plan);
    const QString dir = plan.workDir + QLatin1Char('/');
    const QString output = planned ? dir + planned->output : QString();
    outcome.exitCode = step.status;
    if (record.end == QLatin1String("finished"))
        return outcome;
    if (record.end == QLatin1String("stopped")) {
        outcome.ending = Jobs::Ending::Stopped;
        return outcome;
    }
    if (record.end == QLatin1String("nofort9")) {
        outcome.ending = Jobs::Ending::NoFort9;
        outcome.reason = program + QStringLiteral(" left no fort.9");
        outcome.message = QStringLiteral("The MOLTRA step ended without leaving fort.9 in the "
                                         "working directory, so the EVALIX step cannot run.");
    } else if (record.end == QLatin1String("failed") && step.status > 0) {
        outcome.ending = Jobs::Ending::Failed;
        // The shell tells a step killed by a signal by 128 and the signal's number.
        const bool killed = step.status > 128 && step.status < 128 + 65;
        outcome.exitCode = killed ? -1 : step.status;
        outcome.signal = killed ? step.status - 128 : 0;
        const QString how = killed ? QStringLiteral("was killed by ") + signalName(outcome.signal)
                                   : QStringLiteral("exited with code %1").arg(step.status);
        outcome.reason = program + QLatin1Char(' ') + how;
        outcome.message = QStringLiteral("%1 (step %2 of %3) %4.")
                                  .arg(program)
                                  .arg(step.number)
                                  .arg(plan.stepCount())
                                  .arg(how);
        const QString errorFile = JobFiles::errorFileOf(output);
        const QString lines = lastLines(errorFile);
        if (!lines.isEmpty())
            outcome.message
                    += QStringLiteral("\n\nThe last lines of %1:\n\n%2").arg(errorFile, lines);
        outcome.details = tailOf(errorFile, DetailsLimit);
    } else if (planned
               && (record.end == QLatin1String("unstartable")
                   || record.end == QLatin1String("refused"))) {
        outcome.ending = Jobs::Ending::FailedToStart;
        outcome.reason = program;
        const QString executable
                = step.fallback ? planned->fallbackExecutable : planned->executable;
        QString cause;
        if (step.trouble == QLatin1String("noinput"))
            cause = QStringLiteral("the input file %1 cannot be read").arg(dir + planned->input);
        else if (step.trouble == QLatin1String("noexecutable"))
            cause = QStringLiteral("%1 is not an executable file").arg(executable);
        else if (step.trouble == QLatin1String("nolauncher"))
            cause = QStringLiteral("the MPI launcher %1 is not installed")
                            .arg(planned->command.value(0));
        else if (step.trouble == QLatin1String("taken"))
            cause = QStringLiteral("the output file %1 is a folder. Move it away and start again")
                            .arg(output);
        else
            cause = QStringLiteral("%1 cannot be kept as %2")
                            .arg(output, JobFiles::backupOf(output));
        const bool evalix = planned->input.endsWith(QLatin1String(".d3"));
        outcome.message = (evalix ? QStringLiteral("Unable to start the .d3 job: ")
                                  : QStringLiteral("Unable to start the .d12 job: "))
                + cause;
    } else {
        outcome.ending = Jobs::Ending::Unknown;
        outcome.reason = QStringLiteral("ended without a readable record of how");
        return outcome;
    }
    QStringList kept;
    for (const Step &done : record.steps) {
        const PlanStep *doneStep = plan.step(done.number);
        if (done.kept && doneStep)
            kept.append(JobFiles::backupOf(dir + doneStep->output));
    }
    if (!kept.isEmpty() && outcome.ending != Jobs::Ending::FailedToStart)
        outcome.message += QStringLiteral("\n\nThe previous output is kept as %1.")
                                   .arg(kept.join(QStringLiteral(" and ")));
    return outcome;
}

}
