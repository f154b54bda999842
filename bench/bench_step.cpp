// SPDX-License-Identifier: GPL-3.0-or-later
// What the job script, its record and the step wrapper cost a step: the time from start to end
// of a 1 s step run bare (a child process with its deck and output, as a launcher without a
// record would run it), and as a job on this computer with and without the wrapper.
#include "job/jobmanager.h"
#include "job/jobplanner.h"
#include "testsupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QSignalSpy>

#include <algorithm>
#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

constexpr int Rounds = 7;

double median(QList<qint64> times)
{
    std::sort(times.begin(), times.end());
    return times.at(times.size() / 2) / 1000.0;
}

double bare(const QString &dir)
{
    QList<qint64> times;
    for (int round = 0; round < Rounds; ++round) {
        QProcess step;
        step.setWorkingDirectory(dir + u"/work"_s);
        step.setStandardInputFile(dir + u"/work/mgo.d12"_s);
        step.setStandardOutputFile(dir + u"/work/mgo.out"_s);
        step.setStandardErrorFile(dir + u"/work/mgo.out.err"_s);
        QElapsedTimer clock;
        clock.start();
        step.start(dir + u"/package/moltra"_s, {});
        step.waitForFinished();
        times.append(clock.elapsed());
    }
    return median(times);
}

double asJob(const QString &dir, const QString &wrapper)
{
    JobManager jobs(QString(), nullptr, wrapper);
    PackageConfig package;
    package.packageDir = dir + u"/package"_s;
    QList<qint64> times;
    for (int round = 0; round < Rounds; ++round) {
        Job job;
        job.program = u"moltra"_s;
        job.workDir = dir + u"/work"_s;
        job.deck = job.workDir + u"/mgo.d12"_s;
        job.plan = JobPlanner::plan(package, job.program, job.deck, job.workDir, 1).plan;
        QSignalSpy ended(&jobs, &JobManager::jobEnded);
        QElapsedTimer clock;
        clock.start();
        QString error;
        if (!jobs.start(job, &error) || !ended.wait(10000)) {
            std::fprintf(stderr, "The job did not run: %s\n", qPrintable(error));
            return -1;
        }
        times.append(clock.elapsed());
    }
    return median(times);
}

}

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    IsolatedEnvironment environment;
    const QString dir = environment.path();
    writeFile(dir + u"/work/mgo.d12"_s, "deck\n");
    writeScript(dir + u"/package/moltra"_s, "exec sleep 1\n");
    std::printf("A 1 s step, start to end (median of %d):\n", Rounds);
    std::printf("  bare child process:              %.3f s\n", bare(dir));
    std::printf("  job with its record:             %.3f s\n", asJob(dir, QString()));
    std::printf("  job with its record and wrapper: %.3f s\n",
                asJob(dir, QStringLiteral(MOLTRA_STEP_WRAPPER)));
    return 0;
}
