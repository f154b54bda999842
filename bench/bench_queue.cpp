// SPDX-License-Identifier: GPL-3.0-or-later
// The queue on this computer: 1,000 jobs of a stand-in that ends at once, on 2 cores and on 1
// (one by one): the time from a job's end to the next job's process, and jobs per minute; then
// the real window's event-loop lateness while 8 jobs run and it follows one of them.
//
//   QT_QPA_PLATFORM=offscreen build/bench/bench_queue [jobs]

#include "job/jobmanager.h"
#include "job/jobplanner.h"
#include "latenessprobe.h"
#include "mainwindow/mainwindow.h"
#include "testsupport.h"
#include "windowsupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSettings>
#include <QTest>
#include <QToolButton>

#include <algorithm>
#include <cstdio>

namespace {

struct Run
{
    QList<double> gaps;
    double minutes = 0;
};

// A job of the stand-in on a deck of its own.
Job deckJob(const PackageConfig &config, const QString &deck)
{
    Job job;
    job.deck = writeFile(deck, "deck\n");
    job.workDir = QFileInfo(deck).path();
    job.program = QStringLiteral("moltra");
    job.plan = JobPlanner::plan(config, job.program, job.deck, job.workDir, 1).plan;
    return job;
}

// Starts every job at once and waits for the last end.
Run runQueue(const QString &dir, int count, int cores)
{
    PackageConfig config;
    config.packageDir = dir + QStringLiteral("/package");
    JobManager jobs(dir + QStringLiteral("/ledger-%1/jobs.sqlite").arg(cores), nullptr,
                    QStringLiteral(MOLTRA_STEP_WRAPPER));
    jobs.setLimits(Jobs::thisComputer(), { cores, 0, 30 });
    Run run;
    QElapsedTimer clock;
    QElapsedTimer sinceEnd;
    int ended = 0;
    bool waitingForStart = false;
    QObject::connect(&jobs, &JobManager::jobEnded, [&] {
        ++ended;
        sinceEnd.start();
        waitingForStart = true;
    });
    // The next job's process has started once its group is known.
    QObject::connect(&jobs, &JobManager::jobChanged, [&](qint64 id) {
        const Job *job = jobs.find(id);
        if (waitingForStart && job && job->state == Jobs::State::Running && job->processGroup) {
            run.gaps << double(sinceEnd.nsecsElapsed()) / 1e6;
            waitingForStart = false;
        }
    });
    clock.start();
    for (int n = 0; n < count; ++n) {
        QString error;
        if (!jobs.start(deckJob(config, dir + QStringLiteral("/work/q%1.d12").arg(n)), &error))
            std::printf("refused: %s\n", qPrintable(error));
    }
    if (!QTest::qWaitFor([&] { return ended == count; }, 600000))
        std::printf("only %d of %d jobs ended\n", ended, count);
    run.minutes = double(clock.elapsed()) / 60000;
    return run;
}

double at(QList<double> values, double share)
{
    std::sort(values.begin(), values.end());
    return values.value(qsizetype(share * double(values.size() - 1)));
}

}

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("quillmoor"));
    QCoreApplication::setApplicationName(QStringLiteral("MOLTRA Farbo Starter"));
    const int count = argc > 1 ? QByteArray(argv[1]).toInt() : 1000;
    IsolatedEnvironment environment;
    const QString dir = environment.path();
    writeStandIn(dir, QStringLiteral("moltra"), "exit 0\n");
    for (const int cores : { 2, 1 }) {
        const Run run = runQueue(dir, count, cores);
        std::printf("%d jobs on %d core(s): %.0f jobs per minute; end to next start median "
                    "%.1f ms, p99 %.1f ms, max %.1f ms\n",
                    count, cores, count / run.minutes, at(run.gaps, 0.5), at(run.gaps, 0.99),
                    at(run.gaps, 1));
    }

    // The window follows one of 8 jobs that each write a line every 10 ms for 10 s.
    writeStandIn(dir, QStringLiteral("moltra"),
                 "i=0\nwhile [ $i -lt 1000 ]; do echo \"line $i of the output\"; i=$((i+1)); "
                 "sleep 0.01; done\n");
    qputenv("XDG_DATA_HOME", QFile::encodeName(dir + QStringLiteral("/window")));
    launcherSettings().setValue(QStringLiteral("moltraDir"), dir + QStringLiteral("/package"));
    launcherSettings().setValue(QStringLiteral("localCores"), 8);
    ModalAnswerer answerer;
    MainWindow window;
    window.show();
    auto *jobs = window.findChild<JobManager *>();
    PackageConfig config;
    config.packageDir = dir + QStringLiteral("/package");
    for (int n = 0; n < 7; ++n) {
        QString error;
        jobs->start(deckJob(config, dir + QStringLiteral("/eight/e%1.d12").arg(n)), &error);
    }
    window.openFile(writeFile(dir + QStringLiteral("/eight/followed.d12"), "deck\n"));
    window.findChild<QToolButton *>(QStringLiteral("toolButtonStart"))->click();
    LatenessProbe probe;
    probe.start();
    QTest::qWait(8000);
    std::printf("window, 8 jobs running, one followed: lateness median %.1f ms, p99 %.1f ms, "
                "max %.1f ms\n",
                probe.at(0.5), probe.at(0.99), probe.at(1));
    return 0;
}
