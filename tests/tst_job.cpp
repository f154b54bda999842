// SPDX-License-Identifier: GPL-3.0-or-later
// A job's plan, its script and its record, run by this computer's backend and by the cluster
// backend over stand-ins for ssh and Slurm that run the same script here.
#include "cluster/clusterbackend.h"
#include "job/jobledger.h"
#include "job/jobmanager.h"
#include "job/jobplanner.h"
#include "job/jobscript.h"
#include "job/localbackend.h"
#include "job/processgroups.h"
#include "job/shellwords.h"
#include "testsupport.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QtTest>

#include <algorithm>

using namespace Qt::StringLiterals;

class TestJob : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void behaviour_data();
    void behaviour();
    void endAfterLauncherCrash_data();
    void endAfterLauncherCrash();
    void usage_data();
    void usage();
    void destructionEndsTheWholeGroup();
    void queue_data();
    void queue();
    void clusterTakesAtMostMaxSubmitted();
    void plans_data();
    void plans();
    void shellWords_data();
    void shellWords();

private:
    // A stand-in program that logs each run's argument count, folder and standard input.
    void standIn(const QString &name, const QByteArray &body);
    PackageConfig package() const;
    PlannedJob plan(const QString &program, const QString &deck, int cores = 1);
    // Starts the job here or on the stand-in cluster and waits for its end; gives its id, or
    // 0 with the refusal in *said.
    qint64 run(JobManager &jobs, const QString &where, Job job, bool stop, QString *said);
    // The stand-in cluster of that name, which runs each submitted script here.
    ClusterBackend *fakeClusterBackend(const QString &where);

    IsolatedEnvironment m_env;
    QString m_dir;
};

void TestJob::init()
{
    static int round = 0;
    m_dir = m_env.path() + u"/round %1"_s.arg(++round);
    writeFakeCluster(m_dir);
    QFile::remove(m_dir + u"/package/moltra"_s);
}

void TestJob::standIn(const QString &name, const QByteArray &body)
{
    writeStandIn(m_dir, name,
                 "rec='" + QFile::encodeName(m_dir + u'/' + name)
                         + "'\n{ echo $# $(pwd); cat; } >> \"$rec.log\"\n" + body);
}

PackageConfig TestJob::package() const
{
    PackageConfig config;
    config.packageDir = m_dir + u"/package"_s;
    return config;
}

PlannedJob TestJob::plan(const QString &program, const QString &deck, int cores)
{
    const QString path = writeFile(m_dir + u"/work/"_s + deck, "deck " + deck.toUtf8() + '\n');
    return JobPlanner::plan(package(), program, path, m_dir + u"/work"_s, cores);
}

ClusterBackend *TestJob::fakeClusterBackend(const QString &where)
{
    ClusterProfile profile;
    profile.name = where;
    profile.host = u"cluster"_s;
    profile.remoteDir = u"jobs"_s;
    profile.packageDir = m_dir + u"/package"_s;
    profile.pollSeconds = 1;
    SshConfig ssh;
    ssh.ssh = m_dir + u"/bin/ssh"_s;
    ssh.controlDir = m_dir;
    writeFile(m_dir + u"/fake/run"_s, "");
    return new ClusterBackend(profile, ssh);
}

qint64 TestJob::run(JobManager &jobs, const QString &where, Job job, bool stop, QString *said)
{
    job.where = where;
    job.workDir = job.plan.workDir;
    job.deck = job.plan.deck;
    if (where != Jobs::thisComputer()) {
        jobs.setBackend(where, fakeClusterBackend(where));
    }
    QSignalSpy ended(&jobs, &JobManager::jobEnded);
    const qint64 id = jobs.start(job, said);
    if (!id)
        return 0;
    if (stop) {
        if (!QTest::qWaitFor([this] { return QFile::exists(m_dir + u"/moltra.ready"_s); }, 10000))
            qWarning("the step did not start");
        jobs.stop(id);
    }
    if (!ended.wait(20000))
        qWarning("the job did not end");
    const auto outcome = ended.value(0).value(1).value<JobOutcome>();
    *said = outcome.reason + u'|' + outcome.message;
    return id;
}

void TestJob::behaviour_data()
{
    QTest::addColumn<QString>("where");
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("deck");
    QTest::addColumn<QByteArray>("moltra"); // the stand-in's body; empty: not installed
    QTest::addColumn<QString>("setUp"); // "fort.9": one is there; "folder": the output's name is
    QTest::addColumn<bool>("stop");
    QTest::addColumn<Jobs::State>("state");
    QTest::addColumn<QString>("outputs"); // of the steps that ran
    QTest::addColumn<QString>("said"); // the reason and message, or the refusal

    const QByteArray ok = "echo MOLTRA output\necho wf > fort.9\n";
    struct Row
    {
        const char *name;
        QString program, deck;
        QByteArray moltra;
        QString setUp;
        bool stop;
        Jobs::State state;
        QString outputs, said;
    };
    const QString d12 = u"mgo.d12"_s, d3 = u"mgo.d3"_s;
    using S = Jobs::State;
    const QList<Row> rows = {
        { "MOLTRA job", u"moltra"_s, d12, ok, {}, false, S::Finished, u"mgo.out"_s, u"|"_s },
        { "EVALIX job runs MOLTRA first",
          u"evalix"_s,
          d3,
          ok,
          {},
          false,
          S::Finished,
          u"mgo.outp.out mgo.outp"_s,
          u"|"_s },
        { "EVALIX job with fort.9", u"evalix"_s, d3, ok, u"fort.9"_s, false, S::Finished,
          u"mgo.outp"_s, u"|"_s },
        { "exit code 3",
          u"moltra"_s,
          d12,
          "echo MOLTRA output\nseq -f 'bad %g' 30 >&2\nexit 3\n",
          {},
          false,
          S::Failed,
          u"mgo.out"_s,
          u"moltra exited with code 3|moltra (step 1 of 1) exited with code 3.\n\nThe last lines of %1/work/mgo.out.err:\n\nbad 11\n"_s },
        { "killed by a signal",
          u"moltra"_s,
          d12,
          "echo MOLTRA output\nkill -SEGV $$\n",
          {},
          false,
          S::Failed,
          u"mgo.out"_s,
          u"moltra was killed by SIGSEGV|moltra (step 1 of 1) was killed by SIGSEGV."_s },
        { "MOLTRA step leaves no fort.9",
          u"evalix"_s,
          d3,
          "echo MOLTRA output\n",
          {},
          false,
          S::Failed,
          u"mgo.outp.out"_s,
          u"moltra left no fort.9|The MOLTRA step ended without leaving fort.9 in the working directory, so the EVALIX step cannot run."_s },
        { "stopped",
          u"moltra"_s,
          d12,
          "echo MOLTRA output\ntouch \"$rec.ready\"\nexec sleep 30\n",
          {},
          true,
          S::Stopped,
          u"mgo.out"_s,
          u"|"_s },
        { "parallel build missing",
          u"Pmoltra"_s,
          d12,
          ok,
          {},
          false,
          S::Finished,
          u"mgo.out"_s,
          u"|"_s },
        { "output name taken by a folder", u"moltra"_s, d12, ok, u"folder"_s, false, S::Failed,
          QString(),
          u"Unable to start the .d12 job: the output file %1/work/mgo.out is a folder. Move it away and start again"_s },
    };
    for (const Row &row : rows) {
        for (const QString &where : { Jobs::thisComputer(), u"fake"_s }) {
            QTest::addRow("%s, %s", row.name, where.isEmpty() ? "here" : "on a cluster")
                    << where << row.program << row.deck << row.moltra << row.setUp << row.stop
                    << row.state << row.outputs << row.said;
        }
    }
}

void TestJob::behaviour()
{
    QFETCH(QString, where);
    QFETCH(QString, program);
    QFETCH(QString, deck);
    QFETCH(QByteArray, moltra);
    QFETCH(QString, setUp);
    QFETCH(bool, stop);
    QFETCH(Jobs::State, state);
    QFETCH(QString, outputs);
    QFETCH(QString, said);

    standIn(u"moltra"_s, moltra);
    standIn(u"evalix"_s, "[ -e fort.9 ] || exit 9\necho EVALIX output\n");
    const QString work = m_dir + u"/work"_s;
    writeFile(work + u"/mgo.d12"_s, "companion deck\n");
    if (setUp == u"fort.9"_s)
        writeFile(work + u"/fort.9"_s, "wf\n");
    const JobPlan planned = plan(program, deck).plan;
    // The earlier output of the first step, with its error output.
    const QString first = work + u'/' + planned.steps.first().output;
    if (setUp == u"folder"_s)
        QDir().mkpath(first);
    else if (setUp != u"fort.9"_s)
        writeFile(first, "left over from an earlier run\n");
    if (setUp.isEmpty())
        writeFile(first + u".err"_s, "its errors\n");

    JobManager jobs{ QString() };
    Job job;
    job.program = program;
    job.plan = planned;
    QString told;
    const qint64 id = run(jobs, where, job, stop, &told);
    said.replace(u"%1"_s, m_dir);
    QVERIFY2(said == u"|"_s ? told == said : told.contains(said), qPrintable(told));
    QCOMPARE(id ? jobs.find(id)->state : Jobs::State::Failed, state);
    // The outputs of the steps that ran came home; an empty error output did not.
    const QStringList ran = outputs.split(u' ', Qt::SkipEmptyParts);
    for (const QString &name : ran) {
        QCOMPARE(readFile(work + u'/' + name),
                 name.endsWith(u".outp"_s) ? "EVALIX output\n"_ba : "MOLTRA output\n"_ba);
    }
    QCOMPARE(QFile::exists(work + u"/mgo.out.err"_s), told.contains(u"mgo.out.err"_s));
    // A step that ran keeps the earlier output with its error output; a refused one moves
    // nothing.
    if (setUp.isEmpty())
        QCOMPARE(readFile(first + u"~"_s) + readFile(first + u".err~"_s),
                 "left over from an earlier run\nits errors\n"_ba);
    QCOMPARE(QFileInfo(first).isDir(), setUp == u"folder"_s);
    // Each program ran without arguments in the job's folder, reading its deck.
    if (ran.isEmpty())
        return;
    const QString folder = where.isEmpty()
            ? work
            : m_dir + u"/home/jobs/"_s + ClusterBackend::folderName(*jobs.find(id));
    const QByteArray call = "0 " + QFile::encodeName(folder) + '\n';
    const bool moltraRan = ran.first() != u"mgo.outp"_s;
    QCOMPARE(readFile(m_dir + u"/moltra.log"_s),
             moltraRan ? call + readFile(work + u"/mgo.d12"_s) : "");
}

void TestJob::endAfterLauncherCrash_data()
{
    QTest::addColumn<QByteArray>("moltra"); // "$record" is the job's record
    QTest::addColumn<Jobs::State>("state");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<bool>("gone"); // the script ended before the next launcher started
    QTest::newRow("failed with a code") << "sleep 1\nexit 3\n"_ba << Jobs::State::Failed
                                        << u"moltra exited with code 3"_s << false;
    QTest::newRow("finished") << "sleep 1\n"_ba << Jobs::State::Finished << QString() << false;
    QTest::newRow("finished while no launcher ran")
            << ""_ba << Jobs::State::Finished << QString() << true;
    // The job's script is killed in the middle, and its record said no more.
    QTest::newRow("record cut before the end")
            << "sleep 1\nkill -KILL $PPID\n"_ba << Jobs::State::Lost
            << u"before its record said how"_s << false;
    QTest::newRow("record garbled") << "sleep 1\necho garbage > \"$record\"\nkill -KILL $PPID\n"_ba
                                    << Jobs::State::Lost << u"record cannot be read"_s << false;
}

void TestJob::endAfterLauncherCrash()
{
    QFETCH(QByteArray, moltra);
    QFETCH(Jobs::State, state);
    QFETCH(QString, reason);
    QFETCH(bool, gone);
    // A launcher started the job and crashed: the job's script goes on in its group.
    const QString ledgerPath = m_dir + u"/data/jobs.sqlite"_s;
    Job job;
    job.plan = plan(u"moltra"_s, u"mgo.d12"_s).plan;
    job.deck = job.plan.deck;
    job.workDir = job.plan.workDir;
    job.program = u"moltra"_s;
    job.started = QDateTime::currentDateTime();
    {
        JobLedger ledger(ledgerPath);
        QVERIFY(ledger.record(job));
    }
    const QString runDir = m_dir + u"/data/runs/%1"_s.arg(job.id);
    JobScript::Place place;
    place.statusFile = runDir + u"/moltra.status"_s;
    standIn(u"moltra"_s, "record='" + QFile::encodeName(place.statusFile) + "'\n" + moltra);
    const QString script
            = writeFile(runDir + u"/moltra-job.sh"_s, JobScript::render(job.plan, place));
    QProcess crashed;
    crashed.setWorkingDirectory(job.workDir);
    crashed.setProgram(u"setsid"_s);
    crashed.setArguments({ u"sh"_s, u"-c"_s, u"echo $$ > group; exec bash \"$0\""_s, script });
    QVERIFY(crashed.startDetached());
    job.processGroup = waitForPid(job.workDir + u"/group"_s);
    job.bootId = QString::fromLatin1(readFile(u"/proc/sys/kernel/random/boot_id"_s).trimmed());
    {
        JobLedger ledger(ledgerPath);
        QVERIFY(ledger.update(job));
    }
    if (gone)
        QTRY_VERIFY(!ProcessGroups::alive(job.processGroup));
    JobManager jobs(ledgerPath);
    QCOMPARE(jobs.find(job.id)->state, Jobs::State::Running);
    QTRY_VERIFY_WITH_TIMEOUT(!Jobs::isActive(jobs.find(job.id)->state), 10000);
    QCOMPARE(jobs.find(job.id)->state, state);
    QVERIFY2(jobs.find(job.id)->reason.contains(reason), qPrintable(jobs.find(job.id)->reason));
    // Never a made-up exit code.
    QCOMPARE(jobs.find(job.id)->exitCode,
             state == Jobs::State::Lost             ? -1
                     : state == Jobs::State::Failed ? 3
                                                    : 0);
}

void TestJob::usage_data()
{
    QTest::addColumn<QString>("where");
    QTest::addColumn<int>("ranks"); // 0: a stand-in; else the demo's Pmoltra on this many ranks
    QTest::newRow("serial, here") << Jobs::thisComputer() << 0;
    QTest::newRow("serial, on a cluster") << u"fake"_s << 0;
    QTest::newRow("two MPI ranks, here") << Jobs::thisComputer() << 2;
}

void TestJob::usage()
{
    QFETCH(QString, where);
    QFETCH(int, ranks);
    // A second of sleep, a busy loop, and a child process that holds 64 MiB.
    standIn(u"moltra"_s,
            "sleep 1\ni=0; while [ $i -lt 200000 ]; do i=$((i+1)); done\n"
            "head -c 67108864 /dev/zero | python3 -c 'import sys; d = sys.stdin.buffer.read()'\n"
            "echo wf > fort.9\n");
    JobManager jobs(QString(), nullptr,
                    where.isEmpty() ? QStringLiteral(MOLTRA_STEP_WRAPPER) : QString());
    Job job;
    job.program = ranks ? u"Pmoltra"_s : u"moltra"_s;
    job.cores = qMax(1, ranks);
    job.plan = plan(job.program, u"mgo.d12"_s).plan;
    if (ranks) {
        PackageConfig demo;
        demo.packageDir = QStringLiteral(MOLTRA_DEMO_DIR);
        demo.mpiArguments = u"--allow-run-as-root --oversubscribe"_s;
        job.plan = JobPlanner::plan(demo, job.program, job.plan.deck, job.plan.workDir, ranks).plan;
        if (!QFileInfo(demo.executablePath(job.program)).isExecutable())
            QFAIL("the demo's MPI build is missing: Open MPI is not installed");
    }
    QString said;
    const qint64 id = run(jobs, where, job, false, &said);
    const Job *ended = jobs.find(id);
    QCOMPARE(ended->state, Jobs::State::Finished);
    // The job's own clock: the duration is the steps', whenever its end was seen.
    const qint64 ms = ended->started.msecsTo(ended->ended);
    const double cpu = ended->usage.cpuSeconds;
    QVERIFY2(ms >= 1000 && ms < 8000, qPrintable(QString::number(ms)));
    if (ranks) {
        // The ranks' work, which mpirun alone, asleep while they run, is far from.
        QVERIFY2(cpu * 1000 > 0.5 * ms && cpu * 1000 < ranks * ms + 500,
                 qPrintable(u"%1 s CPU in %2 ms"_s.arg(cpu).arg(ms)));
        QVERIFY(readFile(ended->outputFile).contains("RUNNING ON 2 PROCESSES"));
    } else {
        QVERIFY2(cpu > 0.05 && cpu * 1000 < ms + 100, qPrintable(QString::number(cpu)));
    }
    // Memory only where the step wrapper measured it; the cluster keeps no accounting.
    if (where.isEmpty() && !ranks)
        QVERIFY2(ended->usage.peakKiB > 64 * 1024,
                 qPrintable(QString::number(ended->usage.peakKiB)));
    QCOMPARE(ended->usage.peakKiB > 0, where.isEmpty());
}

void TestJob::destructionEndsTheWholeGroup()
{
    // The leader and one helper end at the termination request; the other helper ignores it.
    standIn(u"moltra"_s,
            "sleep 60 &\necho $! > \"$rec.helper\"\n"
            "sh -c 'trap \"\" TERM; echo $$ > \"$0\"; exec sleep 60' \"$rec.child\" &\nwait\n");
    auto jobs = std::make_unique<JobManager>(QString());
    Job job;
    job.plan = plan(u"moltra"_s, u"mgo.d12"_s).plan;
    job.program = u"moltra"_s;
    job.deck = job.plan.deck;
    job.workDir = job.plan.workDir;
    QString error;
    QVERIFY(jobs->start(job, &error));
    QList<qint64> group;
    for (const char *name : { "pid", "helper", "child" })
        group << waitForPid(m_dir + u"/moltra."_s + QLatin1String(name));
    QVERIFY(processAlive(group[0]) && processAlive(group[1]) && processAlive(group[2]));
    jobs.reset();
    QTRY_VERIFY(!processAlive(group[0]) && !processAlive(group[1]) && !processAlive(group[2]));
}

void TestJob::queue_data()
{
    // Jobs mgo1.d12, mgo2.d12... asking these cores start in turn; each runs until released.
    QTest::addColumn<QList<int>>("cores");
    QTest::addColumn<int>("limit"); // this computer's cores
    QTest::addColumn<int>("backfillMinutes");
    QTest::addColumn<bool>("oneDeck"); // every job runs mgo1.d12, into one output
    // Before the release: "stop N", "front N", "gone N" (its deck removed), "restart" (the
    // launcher leaves its jobs running and a new one takes the ledger over).
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("atStart"); // each job's state once started, or "refused: ..."
    QTest::addColumn<QString>("order"); // in which the jobs began to run
    QTest::addColumn<QString>("ends");
    using L = QList<int>;
    QTest::newRow("fits") << L{ 1, 1 } << 2 << 30 << false << QString() << u"Running Running"_s
                          << u"1 2"_s << u"Finished Finished"_s;
    QTest::newRow("waits, first come first served")
            << L{ 2, 2, 1 } << 2 << 30 << false << QString() << u"Running Queued Queued"_s
            << u"1 2 3"_s << u"Finished Finished Finished"_s;
    QTest::newRow("a smaller one passes")
            << L{ 1, 2, 1 } << 2 << 30 << false << QString() << u"Running Queued Running"_s
            << u"1 3 2"_s << u"Finished Finished Finished"_s;
    QTest::newRow("not once the larger one has waited its share")
            << L{ 1, 2, 1 } << 2 << 0 << false << QString() << u"Running Queued Queued"_s
            << u"1 2 3"_s << u"Finished Finished Finished"_s;
    QTest::newRow("too large") << L{ 3 } << 2 << 30 << false << QString()
                               << u"refused: The job asks for 3 cores"_s << QString() << QString();
    QTest::newRow("same output") << L{ 1, 1 } << 2 << 30 << true << QString()
                                 << u"Running refused: Job 1"_s << u"1"_s << u"Finished"_s;
    QTest::newRow("moved to the front")
            << L{ 1, 1, 1 } << 1 << 30 << false << u"front 3"_s << u"Running Queued Queued"_s
            << u"1 3 2"_s << u"Finished Finished Finished"_s;
    QTest::newRow("stopped while queued") << L{ 1, 1 } << 1 << 30 << false << u"stop 2"_s
                                          << u"Running Queued"_s << u"1"_s << u"Finished Stopped"_s;
    QTest::newRow("deck gone while queued")
            << L{ 1, 1, 1 } << 1 << 30 << false << u"gone 2"_s << u"Running Queued Queued"_s
            << u"1 3"_s << u"Finished Failed Finished"_s;
    QTest::newRow("restart with queued and running jobs")
            << L{ 1, 1, 1 } << 1 << 30 << false << u"restart"_s << u"Running Queued Queued"_s
            << u"1 2 3"_s << u"Finished Finished Finished"_s;
}

void TestJob::queue()
{
    QFETCH(QList<int>, cores);
    QFETCH(int, limit);
    QFETCH(int, backfillMinutes);
    QFETCH(bool, oneDeck);
    QFETCH(QString, action);
    QFETCH(QString, atStart);
    QFETCH(QString, order);
    QFETCH(QString, ends);
    standIn(u"moltra"_s, "while [ ! -e \"$rec.go\" ]; do sleep 0.05; done\n");
    const QString ledger = m_dir + u"/data/jobs.sqlite"_s;
    const JobQueue::Limits limits{ limit, 0, backfillMinutes };
    QStringList seen;
    QList<qint64> ids;
    QStringList ran;
    const auto make = [&] {
        auto made = std::make_unique<JobManager>(ledger);
        made->setLimits(Jobs::thisComputer(), limits);
        connect(made.get(), &JobManager::jobStateChanged, this, [&](qint64 id, Jobs::State state) {
            if (state == Jobs::State::Running)
                ran << QString::number(ids.indexOf(id) + 1);
        });
        return made;
    };
    auto jobs = make();
    for (int n = 1; n <= cores.size(); ++n) {
        Job job;
        job.plan = plan(u"moltra"_s, u"mgo%1.d12"_s.arg(oneDeck ? 1 : n)).plan;
        job.deck = job.plan.deck;
        job.workDir = job.plan.workDir;
        job.cores = cores.at(n - 1);
        QString refusal;
        ids << jobs->start(job, &refusal);
        seen << (ids.last() ? Jobs::stateName(jobs->find(ids.last())->state)
                            : u"refused: "_s + refusal);
        if (ids.last() && jobs->find(ids.last())->state == Jobs::State::Running)
            ran << QString::number(n);
    }
    QVERIFY2(seen.join(u' ').contains(atStart), qPrintable(seen.join(u' ')));
    const QString verb = action.section(u' ', 0, 0);
    const int n = action.section(u' ', 1).toInt();
    if (verb == u"stop"_s)
        jobs->stop(ids.at(n - 1));
    else if (verb == u"front"_s)
        jobs->moveInQueue(ids.at(n - 1), true);
    else if (verb == u"gone"_s)
        QVERIFY(QFile::remove(jobs->find(ids.at(n - 1))->deck));
    else if (verb == u"restart"_s) {
        QTest::qWait(300);
        jobs->leaveRunning();
        jobs.reset();
        jobs = make();
    }
    writeFile(m_dir + u"/moltra.go"_s, "");
    const auto ended = [&jobs] {
        return std::none_of(jobs->jobs().cbegin(), jobs->jobs().cend(),
                            [](const Job &job) { return Jobs::isActive(job.state); });
    };
    QVERIFY(QTest::qWaitFor(ended, 20000));
    QStringList states;
    for (const Job &job : jobs->jobs())
        states << Jobs::stateName(job.state);
    QCOMPARE(states.join(u' '), ends);
    QCOMPARE(ran.join(u' '), order);
    // Each job that began ran its program once.
    QCOMPARE(readFile(m_dir + u"/moltra.log"_s).count("deck mgo"), qsizetype(ran.size()));
}

void TestJob::clusterTakesAtMostMaxSubmitted()
{
    standIn(u"moltra"_s, "sleep 0.5\n");
    JobManager jobs(m_dir + u"/data/jobs.sqlite"_s);
    jobs.setLimits(u"fake"_s, { 0, 1, 30 });
    jobs.setBackend(u"fake"_s, fakeClusterBackend(u"fake"_s));
    QList<qint64> ids;
    for (const QString &deck : { u"a.d12"_s, u"b.d12"_s }) {
        Job job;
        job.plan = plan(u"moltra"_s, deck).plan;
        job.deck = job.plan.deck;
        job.workDir = job.plan.workDir;
        job.where = u"fake"_s;
        QString error;
        ids << jobs.start(job, &error);
        QVERIFY2(ids.last(), qPrintable(error));
    }
    // The second waits in the launcher until the first has left the batch system.
    QCOMPARE(jobs.find(ids.at(0))->state, Jobs::State::Submitted);
    QVERIFY(jobs.find(ids.at(1))->waits());
    QTRY_VERIFY_WITH_TIMEOUT(!Jobs::isActive(jobs.find(ids.at(1))->state), 30000);
    QCOMPARE(jobs.find(ids.at(0))->state, Jobs::State::Finished);
    QCOMPARE(jobs.find(ids.at(1))->state, Jobs::State::Finished);
    QCOMPARE(readFile(m_dir + u"/fake/sbatch.log"_s).count('\n'), 2);
}

void TestJob::plans_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("deck");
    QTest::addColumn<int>("cores");
    QTest::addColumn<QString>("launcher"); // a cluster's; empty: this computer's mpirun
    // The refusal, or each step: its program, command, fallback, deck > output and conditions.
    QTest::addColumn<QString>("expected");
    const QString mpirun = u"mpirun,-n,2,--bind-to,core x,P/"_s;
    QTest::newRow("Pevalix runs Pmoltra first, each with a fallback")
            << u"Pevalix"_s << u"mgo.d3"_s << 2 << QString()
            << u"1 Pmoltra "_s + mpirun
                    + u"Pmoltra or moltra, mgo.d12 > mgo.outp.out, without fort.9, leaves fort.9"
                      u" | 2 Pevalix "_s
                    + mpirun + u"Pevalix or evalix, mgo.d3 > mgo.outp"_s;
    QTest::newRow("a cluster's launcher takes the cores from the allocation")
            << u"MPPmoltra"_s << u"mgo.d12"_s << 4 << u"srun --mpi=pmix"_s
            << u"1 MPPmoltra srun,--mpi=pmix,C/MPPmoltra or moltra, mgo.d12 > mgo.out"_s;
    QTest::newRow("serial") << u"moltra"_s << u"mgo.scf.d12"_s << 8 << QString()
                            << u"1 moltra P/moltra, mgo.scf.d12 > mgo.out"_s;
    QTest::newRow("EVALIX on a MOLTRA deck") << u"evalix"_s << u"mgo.d12"_s << 1 << QString()
                                             << u"The program evalix does not fit"_s;
    QTest::newRow("no cores") << u"Pmoltra"_s << u"mgo.d12"_s << 0 << QString()
                              << u"Pmoltra needs at least one core. Choose the number of cores."_s;
}

void TestJob::plans()
{
    QFETCH(QString, program);
    QFETCH(QString, deck);
    QFETCH(int, cores);
    QFETCH(QString, launcher);
    QFETCH(QString, expected);
    PackageConfig config = package();
    config.mpiArguments = u"--bind-to \"core x\""_s;
    if (!launcher.isEmpty()) {
        ClusterProfile profile;
        profile.packageDir = u"C"_s;
        profile.launcher = launcher;
        config = profile.packageConfig(config);
    }
    const QString path = writeFile(m_dir + u"/work/"_s + deck, "deck\n");
    const PlannedJob job = JobPlanner::plan(config, program, path, m_dir + u"/work"_s, cores);
    // Kept in the ledger as it was made.
    const JobPlan kept = JobPlan::fromJson(job.plan.toJson());
    QStringList given{ job.refusal };
    for (const PlanStep &step : kept.steps) {
        QString text = u"%1 %2 %3"_s.arg(step.number).arg(step.program, step.command.join(u','));
        if (!step.fallbackProgram.isEmpty())
            text += u" or "_s + QFileInfo(step.fallbackExecutable).fileName();
        text += u", %1 > %2"_s.arg(step.input, step.output);
        if (step.onlyWithoutFort9)
            text += u", without fort.9"_s;
        if (step.mustLeaveFort9)
            text += u", leaves fort.9"_s;
        given << text;
    }
    const QString told = given.join(u" | "_s)
                                 .replace(m_dir + u"/package/"_s, u"P/"_s)
                                 .mid(job.refusal.isEmpty() ? 3 : 0);
    QVERIFY2(told.startsWith(expected), qPrintable(told));
    QCOMPARE(kept.output, job.plan.output);
    // A plan an older launcher kept (none), or a damaged one, is no plan.
    QVERIFY(JobPlan::fromJson(QByteArray()).isEmpty()
            && JobPlan::fromJson("{\"steps\":[{}]}").isEmpty());
}

void TestJob::shellWords_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("words"); // one word "error: ..." for an error
    QTest::newRow("single quotes")
            << u"--hostfile '/home/me/my hosts' -x"_s
            << QStringList{ u"--hostfile"_s, u"/home/me/my hosts"_s, u"-x"_s };
    QTest::newRow("double quotes and escapes")
            << u"  \"a \\\" \\n $b\" c\\ d\tx''y\n"_s
            << QStringList{ u"a \" \\n $b"_s, u"c d"_s, u"xy"_s };
    QTest::newRow("nothing expanded")
            << u"$HOME * ~ `ls`"_s << QStringList{ u"$HOME"_s, u"*"_s, u"~"_s, u"`ls`"_s };
    QTest::newRow("empty quotes are a word") << u"'' \"\""_s << QStringList{ QString(), QString() };
    QTest::newRow("unclosed") << u"-x 'a b"_s << QStringList{ u"error: a single quote"_s };
    QTest::newRow("final backslash") << u"-x \\"_s << QStringList{ u"error: it ends"_s };
}

void TestJob::shellWords()
{
    QFETCH(QString, text);
    QFETCH(QStringList, words);
    QString error;
    const QStringList given = ShellWords::split(text, &error);
    if (error.isEmpty())
        QCOMPARE(given, words);
    else
        QVERIFY2(given.isEmpty() && (u"error: "_s + error).startsWith(words.value(0)),
                 qPrintable(error));
}

QTEST_GUILESS_MAIN(TestJob)
#include "tst_job.moc"
