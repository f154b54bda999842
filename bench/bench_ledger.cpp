// SPDX-License-Identifier: GPL-3.0-or-later
// The list of jobs at scale: a ledger of 10 000 jobs (or as many as given, a tenth of them
// queued for a cluster) read at start-up,
// the Jobs tab filled and painted, and the cost of recording one more job's start on the
// window's thread, with the ledger alone and through the manager that starts the job.
//
//   QT_QPA_PLATFORM=offscreen build/bench/bench_ledger [jobs]

#include "job/jobledger.h"
#include "job/jobmanager.h"
#include "job/jobplanner.h"
#include "launcher/launcher.h"
#include "mainwindow/jobstab.h"
#include "testsupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>

#include <algorithm>
#include <cstdio>

namespace {

struct Figures
{
    double median = 0;
    double p99 = 0;
    double maximum = 0;
};

Figures figuresOf(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return { values.at(values.size() / 2), values.at(values.size() * 99 / 100), values.last() };
}

double msSince(const QElapsedTimer &clock)
{
    return double(clock.nsecsElapsed()) / 1e6;
}

}

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    const int count = argc > 1 ? QByteArray(argv[1]).toInt() : 10000;
    IsolatedEnvironment environment;
    const QString dir = environment.path();
    const QString ledgerPath = dir + QStringLiteral("/jobs.sqlite");
    writeStandIn(dir, QStringLiteral("moltra"), "exit 0\n");
    PackageConfig config;
    config.packageDir = dir + QStringLiteral("/package");
    Job job;
    job.workDir = dir + QStringLiteral("/work");
    job.deck = writeFile(job.workDir + QStringLiteral("/mgo.d12"), "deck\n");
    job.title = QStringLiteral("MgO bulk - rock salt, bands along the high-symmetry path");
    job.program = QStringLiteral("moltra");
    job.plan = JobPlanner::plan(config, job.program, job.deck, job.workDir, 1).plan;
    job.outputFile = job.plan.output;
    job.errorFile = JobFiles::errorFileOf(job.plan.output);

    QList<double> records;
    {
        JobLedger ledger(ledgerPath);
        for (int i = 0; i < count; ++i) {
            Job recorded = job;
            recorded.state = i % 7 == 0 ? Jobs::State::Failed : Jobs::State::Finished;
            // Waiting for a cluster this run has no profile of: they stay queued.
            if (i % 10 == 0) {
                recorded.state = Jobs::State::Queued;
                recorded.where = QStringLiteral("cluster1");
                // Their outputs are apart from the jobs started below.
                recorded.workDir = dir + QStringLiteral("/queued/%1").arg(i);
                recorded.queueOrder = i;
            }
            recorded.exitCode = i % 7 == 0 ? 1 : 0;
            recorded.started = QDateTime::currentDateTime().addSecs(-60 * (count - i));
            recorded.ended = recorded.started.addSecs(i % 3600);
            QElapsedTimer clock;
            clock.start();
            ledger.record(recorded);
            records << msSince(clock);
        }
    }

    QElapsedTimer clock;
    clock.start();
    // The launcher as the window has it: its settings, its jobs and their backends.
    Launcher launcher(dir);
    JobManager &jobs = *launcher.jobs();
    const double loaded = msSince(clock);
    if (!jobs.ledgerProblem().isEmpty())
        std::printf("ledger: %s\n", qPrintable(jobs.ledgerProblem()));

    QTableView view;
    view.resize(900, 500);
    view.show();
    if (!QTest::qWaitForWindowExposed(&view))
        std::printf("the table was not shown\n");
    QLineEdit filter;
    QLabel counts;
    JobsTab tab(&view, &filter, &counts, &launcher);
    clock.restart();
    tab.fill();
    view.repaint();
    const double filled = msSince(clock);

    QList<double> starts;
    for (int i = 0; i < 50; ++i) {
        QSignalSpy ended(&jobs, &JobManager::jobEnded);
        QString error;
        clock.restart();
        if (!jobs.start(job, &error))
            std::printf("refused: %s\n", qPrintable(error));
        starts << msSince(clock);
        ended.wait(5000);
    }

    const Figures record = figuresOf(records);
    const Figures start = figuresOf(starts);
    std::printf("jobs in the ledger:              %d (%lld rows shown; %s)\n", count,
                qint64(view.model()->rowCount()), qPrintable(counts.text()));
    std::printf("recording a job, ledger alone:   median %.2f ms, 99th %.2f ms, max %.2f ms\n",
                record.median, record.p99, record.maximum);
    std::printf("starting a job, with its record: median %.2f ms, 99th %.2f ms, max %.2f ms\n",
                start.median, start.p99, start.maximum);
    std::printf("reading the ledger at start-up:  %.1f ms\n", loaded);
    std::printf("filling and painting the tab:    %.1f ms\n", filled);
    return 0;
}
