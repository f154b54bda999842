// SPDX-License-Identifier: GPL-3.0-or-later
#include "job/jobledger.h"
#include "job/jobmanager.h"
#include "job/jobplanner.h"
#include "job/loadedjob.h"
#include "job/localbackend.h"
#include "job/processgroups.h"
#include "testsupport.h"

#include <QProcess>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSysInfo>
#include <QtTest>

using namespace Qt::StringLiterals;

class TestLedger : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void faultsLeaveTheJobsRunning_data();
    void faultsLeaveTheJobsRunning();
    void briefLockWaitedFor();
    void recordedAsItGoes();
    void oneLauncherHoldsTheLedger_data();
    void oneLauncherHoldsTheLedger();
    void olderLayoutMigrated();
    void jobsLeftRunningAtStartUp_data();
    void jobsLeftRunningAtStartUp();
    void endsAreFinal_data();
    void endsAreFinal();
    void loadedJobRules_data();
    void loadedJobRules();

private:
    // A MOLTRA job on a deck of its own, planned with a stand-in that runs the body.
    Job plannedJob(const QByteArray &body = "echo done\n");
    // Starts the job and waits for its end.
    qint64 run(JobManager &jobs, const Job &job);
    QString ledger() const { return m_dir + u"/data/jobs.sqlite"_s; }

    IsolatedEnvironment m_env;
    QString m_dir;
};

void TestLedger::init()
{
    static int round = 0;
    m_dir = m_env.path() + u"/round %1"_s.arg(++round);
    QVERIFY(QDir().mkpath(m_dir + u"/data"_s));
}

Job TestLedger::plannedJob(const QByteArray &body)
{
    writeStandIn(m_dir, u"moltra"_s, body);
    PackageConfig config;
    config.packageDir = m_dir + u"/package"_s;
    Job job;
    job.workDir = m_dir + u"/work"_s;
    job.deck = writeFile(job.workDir + u"/mgo.d12"_s, "deck\n");
    job.title = u"MgO bands"_s;
    job.program = u"moltra"_s;
    job.plan = JobPlanner::plan(config, job.program, job.deck, job.workDir, 1).plan;
    return job;
}

qint64 TestLedger::run(JobManager &jobs, const Job &job)
{
    QSignalSpy ended(&jobs, &JobManager::jobEnded);
    QString error;
    const qint64 id = jobs.start(job, &error);
    if (id == 0)
        qWarning("not started: %s", qPrintable(error));
    else if (!ended.wait(15000))
        qWarning("the job did not end");
    return id;
}

void TestLedger::faultsLeaveTheJobsRunning_data()
{
    QTest::addColumn<QString>("said");
    QTest::addColumn<bool>("movedAside");
    QTest::newRow("a folder") << u"is a folder"_s << false;
    QTest::newRow("a link to itself") << u"cannot be opened"_s << false;
    QTest::newRow("locked by another program") << u"locked"_s << false;
    QTest::newRow("truncated") << u"damaged"_s << true;
    QTest::newRow("not a database") << u"damaged"_s << true;
    QTest::newRow("of a newer layout") << u"newer launcher"_s << false;
}

void TestLedger::faultsLeaveTheJobsRunning()
{
    QFETCH(QString, said);
    QFETCH(bool, movedAside);
    const QByteArray fault = QTest::currentDataTag();
    QProcess other;
    if (fault == "a folder") {
        QVERIFY(QDir().mkpath(ledger()));
    } else if (fault == "a link to itself") {
        QVERIFY(QFile::link(ledger(), ledger()));
    } else if (fault == "not a database") {
        writeFile(ledger(), QByteArray("these are not the jobs\n").repeated(200));
    } else if (fault == "of a newer layout") {
        QCOMPARE(QProcess::execute(u"sqlite3"_s, { ledger(), u"PRAGMA user_version=9"_s }), 0);
    } else {
        {
            JobLedger earlier(ledger());
            for (int i = 0; i < 30; ++i) {
                Job job = plannedJob();
                job.title.fill(u'x', 300);
                job.state = Jobs::State::Finished;
                QVERIFY(earlier.record(job));
            }
        }
        if (fault == "truncated") {
            QFile file(ledger());
            QVERIFY(file.resize(file.size() / 2));
        } else {
            // Another program holds a write transaction for longer than the time-out.
            other.start(u"sqlite3"_s, { ledger() });
            other.write("BEGIN EXCLUSIVE;\nDELETE FROM jobs;\nSELECT 'held';\n");
            QVERIFY(other.waitForReadyRead(10000));
        }
    }
    const QByteArray before = readFile(ledger());

    JobManager jobs(ledger());
    QSignalSpy failedLater(&jobs, &JobManager::ledgerFailed);
    const qint64 id = run(jobs, plannedJob());
    QVERIFY(id > 0);
    QCOMPARE(jobs.find(id)->state, Jobs::State::Finished);
    QVERIFY2(jobs.ledgerProblem().contains(said), qPrintable(jobs.ledgerProblem()));
    // Said once: when opening, or at the first write that failed.
    QCOMPARE(failedLater.size(), fault == "locked by another program" ? 1 : 0);

    const QStringList broken = QDir(m_dir + u"/data"_s).entryList({ u"jobs.sqlite.broken-*"_s });
    QCOMPARE(broken.size(), movedAside ? 1 : 0);
    if (movedAside) {
        QCOMPARE(readFile(m_dir + u"/data/"_s + broken.first()), before);
        QVERIFY2(jobs.ledgerProblem().contains(broken.first()), qPrintable(jobs.ledgerProblem()));
        QCOMPARE(JobLedger(ledger()).load().size(), 1);
    } else {
        QCOMPARE(readFile(ledger()), before);
        QCOMPARE(QFileInfo(ledger()).isDir(), fault == "a folder");
    }
    other.kill();
    other.waitForFinished();
}

void TestLedger::briefLockWaitedFor()
{
    JobLedger(ledger()).load();
    // Another launcher writes for a moment: the record waits for it rather than fail.
    QProcess other;
    other.start(u"sqlite3"_s, { ledger() });
    other.write("BEGIN EXCLUSIVE;\nSELECT 'held';\n.shell sleep 1\nROLLBACK;\n");
    QVERIFY(other.waitForReadyRead(10000));
    JobManager jobs(ledger());
    const qint64 id = run(jobs, plannedJob());
    QVERIFY2(jobs.ledgerProblem().isEmpty(), qPrintable(jobs.ledgerProblem()));
    QCOMPARE(JobLedger(ledger()).find(id).state, Jobs::State::Finished);
    other.closeWriteChannel();
    QVERIFY(other.waitForFinished());
}

void TestLedger::recordedAsItGoes()
{
    auto owner = std::make_unique<JobManager>(ledger());
    JobManager &jobs = *owner;
    // Another launcher's view of the same file.
    const auto recorded = [this] { return JobLedger(ledger()).load().value(0); };
    QSignalSpy stepStarted(&jobs, &JobManager::stepStarted);
    QSignalSpy ended(&jobs, &JobManager::jobEnded);
    QString error;
    const qint64 id = jobs.start(plannedJob("sleep 1\necho partial\nexit 3\n"), &error);
    QVERIFY(id > 0);
    Job job = recorded();
    QCOMPARE(job.state, Jobs::State::Running);
    QCOMPARE(u"%1 %2 %3 %4"_s.arg(job.id).arg(job.title, job.program).arg(job.cores),
             u"%1 MgO bands moltra 1"_s.arg(id));
    QVERIFY(job.started.isValid() && !job.ended.isValid());
    QVERIFY(stepStarted.wait(5000));
    QVERIFY(!jobs.remove(id));
    QTRY_VERIFY(ProcessGroups::alive(recorded().processGroup));

    QVERIFY(!ended.isEmpty() || ended.wait(15000));
    job = recorded();
    QCOMPARE(job.state, Jobs::State::Failed);
    QCOMPARE(job.exitCode, 3);
    QVERIFY2(job.reason.contains(u"code 3"_s), qPrintable(job.reason));
    QVERIFY(job.ended >= job.started);
    QCOMPARE(readFile(job.outputFile), QByteArray("partial\n"));

    // Forgetting a job leaves its files; its script and record go.
    const QString runDir = m_dir + u"/data/runs/%1"_s.arg(id);
    QVERIFY(QFileInfo::exists(runDir + u"/moltra.status"_s));
    QVERIFY(jobs.remove(id));
    QVERIFY(JobLedger(ledger()).load().isEmpty());
    QVERIFY(QFileInfo::exists(job.outputFile) && !QFileInfo::exists(runDir));

    // A launcher that closes over its job stops it, and says so.
    owner.reset();
    auto closing = std::make_unique<JobManager>(ledger());
    QSignalSpy closingStep(closing.get(), &JobManager::stepStarted);
    QVERIFY(closing->start(plannedJob("sleep 30\n"), &error) > 0);
    QVERIFY(closingStep.wait(5000));
    closing.reset();
    job = recorded();
    QCOMPARE(job.state, Jobs::State::Stopped);
    QTRY_VERIFY(!ProcessGroups::alive(job.processGroup));
}

void TestLedger::oneLauncherHoldsTheLedger_data()
{
    // The lock's holder: a process alive here, one that crashed, one of another computer.
    QTest::addColumn<QString>("holder");
    QTest::addColumn<QString>("problem"); // empty: the ledger is taken over
    QTest::newRow("a launcher here") << u"alive"_s << u"another launcher on this computer"_s;
    QTest::newRow("a launcher that crashed") << u"crashed"_s << QString();
    QTest::newRow("a launcher on another computer")
            << u"elsewhere"_s << u"on the computer elsewhere.example"_s;
}

void TestLedger::oneLauncherHoldsTheLedger()
{
    QFETCH(QString, holder);
    QFETCH(QString, problem);
    {
        JobManager first(ledger());
        QVERIFY(run(first, plannedJob()) > 0);
    }
    QProcess process;
    process.start(u"sleep"_s, { holder == u"crashed"_s ? u"0"_s : u"30"_s });
    QVERIFY(process.waitForStarted());
    const qint64 pid = holder == u"elsewhere"_s ? 4242 : process.processId();
    if (holder == u"crashed"_s)
        QVERIFY(process.waitForFinished());
    const QString host
            = holder == u"elsewhere"_s ? u"elsewhere.example"_s : QSysInfo::machineHostName();
    writeFile(ledger() + u".lock"_s, u"%1\nsleep\n%2\n"_s.arg(pid).arg(host).toUtf8());
    const QByteArray before = readFile(ledger());
    {
        JobManager second(ledger());
        QVERIFY2(second.ledgerProblem().contains(problem), qPrintable(second.ledgerProblem()));
        // Without the ledger, jobs run all the same and the holder's file is not touched.
        QVERIFY(run(second, plannedJob()) > 0);
        QCOMPARE(second.jobs().size(), problem.isEmpty() ? 2 : 1);
        if (!problem.isEmpty())
            QCOMPARE(readFile(ledger()), before);
    }
    process.kill();
    process.waitForFinished();
}

void TestLedger::olderLayoutMigrated()
{
    {
        // The first layout, as the first launcher with a ledger wrote it.
        QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, u"old"_s);
        db.setDatabaseName(ledger());
        QVERIFY(db.open());
        QSqlQuery query(db);
        QVERIFY(query.exec(
                u"CREATE TABLE jobs (id INTEGER PRIMARY KEY AUTOINCREMENT, deck TEXT, "
                "work_dir TEXT, title TEXT, program TEXT, cores INTEGER, portal_user INTEGER, "
                "portal_token TEXT, portal_job INTEGER, location TEXT, state TEXT, "
                "exit_code INTEGER, signal INTEGER, reason TEXT, started INTEGER, ended INTEGER, "
                "output_file TEXT, error_file TEXT, process_group INTEGER, boot_id TEXT)"_s));
        QVERIFY(query.exec(u"INSERT INTO jobs (title, program, cores, state, exit_code, started) "
                           "VALUES ('old', 'Pmoltra', 4, 'Finished', 0, 1796032800000)"_s));
        QVERIFY(query.exec(u"PRAGMA user_version=1"_s));
    }
    QSqlDatabase::removeDatabase(u"old"_s);

    JobLedger ledger(this->ledger());
    QVERIFY2(ledger.isOpen() && ledger.problem().isEmpty(), qPrintable(ledger.problem()));
    Job job = plannedJob();
    job.remoteId = u"4711"_s;
    QVERIFY(ledger.record(job));
    const QList<Job> jobs = ledger.load();
    QCOMPARE(jobs.size(), 2);
    QCOMPARE(jobs.at(0).remoteId, u"4711"_s);
    const Job &old = jobs.at(1);
    QCOMPARE(u"%1 %2 %3"_s.arg(old.title, old.program).arg(old.cores), u"old Pmoltra 4"_s);
    QCOMPARE(old.state, Jobs::State::Finished);
    QCOMPARE(old.started, QDateTime(QDate(2026, 11, 30), QTime(10, 0), Qt::UTC));
    QProcess version;
    version.start(u"sqlite3"_s, { this->ledger(), u"PRAGMA user_version"_s });
    QVERIFY(version.waitForFinished());
    QCOMPARE(version.readAll().trimmed().toInt(), JobLedger::SchemaVersion);
}

void TestLedger::jobsLeftRunningAtStartUp_data()
{
    QTest::addColumn<bool>("groupRuns");
    QTest::addColumn<bool>("sameBoot");
    QTest::addColumn<bool>("stopIt");
    QTest::addColumn<Jobs::State>("atStart");
    QTest::addColumn<Jobs::State>("atEnd");
    QTest::addColumn<QString>("reason");
    using S = Jobs::State;
    QTest::newRow("group gone") << false << true << false << S::Lost << S::Lost
                                << JobManager::lostReason();
    QTest::newRow("group of an earlier boot")
            << true << false << false << S::Lost << S::Lost << JobManager::lostReason();
    QTest::newRow("still running, ends")
            << true << true << false << S::Running << S::Lost << u"exit status is unknown"_s;
    QTest::newRow("still running, its own launcher records the end")
            << true << true << false << S::Running << S::Finished << QString();
    QTest::newRow("still running, stopped")
            << true << true << true << S::Running << S::Stopped << QString();
}

void TestLedger::jobsLeftRunningAtStartUp()
{
    QFETCH(bool, groupRuns);
    QFETCH(bool, sameBoot);
    QFETCH(bool, stopIt);
    QFETCH(Jobs::State, atStart);
    QFETCH(Jobs::State, atEnd);
    QFETCH(QString, reason);
    // A step in a process group of its own, as the launcher that crashed started it.
    QProcess step;
    step.start(u"setsid"_s, { u"sleep"_s, u"60"_s });
    QVERIFY(step.waitForStarted());
    const qint64 group = step.processId();
    // The group is there once setsid has made it.
    QTRY_VERIFY(ProcessGroups::alive(group));
    if (!groupRuns) {
        step.kill();
        step.waitForFinished();
    }
    Job job = plannedJob();
    job.state = Jobs::State::Running;
    job.started = QDateTime::currentDateTime();
    job.processGroup = group;
    job.bootId = sameBoot ? ProcessGroups::bootId() : u"an earlier boot"_s;
    QVERIFY(JobLedger(ledger()).record(job));

    JobManager jobs(ledger());
    QSignalSpy ended(&jobs, &JobManager::jobEnded);
    QCOMPARE(jobs.find(job.id)->state, atStart);
    if (QByteArray(QTest::currentDataTag()).endsWith("records the end")) {
        job.state = Jobs::State::Finished;
        job.exitCode = 0;
        QVERIFY(JobLedger(ledger()).update(job));
    }
    if (stopIt)
        jobs.stop(job.id);
    else if (groupRuns && sameBoot)
        step.kill();
    if (atStart != atEnd)
        QVERIFY(ended.wait(LocalBackend::StopGraceMs));
    QCOMPARE(JobLedger(ledger()).load().value(0).state, atEnd);
    QVERIFY2(jobs.find(job.id)->reason.contains(reason), qPrintable(jobs.find(job.id)->reason));
    QTRY_VERIFY(!ProcessGroups::alive(job.processGroup) || !sameBoot);
    step.kill();
    step.waitForFinished();
}

void TestLedger::endsAreFinal_data()
{
    QTest::addColumn<Jobs::State>("from");
    QTest::addColumn<Jobs::State>("to");
    QTest::addColumn<bool>("allowed");
    using S = Jobs::State;
    QTest::newRow("running job stops") << S::Running << S::Stopping << true;
    QTest::newRow("stopping job ends") << S::Stopping << S::Stopped << true;
    QTest::newRow("queued job runs") << S::Queued << S::Running << true;
    QTest::newRow("running job back in the queue") << S::Running << S::Queued << false;
    QTest::newRow("finished job stops") << S::Finished << S::Stopping << false;
    QTest::newRow("lost job found finished") << S::Lost << S::Finished << false;
    QTest::newRow("stopped job runs") << S::Stopped << S::Running << false;
}

void TestLedger::endsAreFinal()
{
    QFETCH(Jobs::State, from);
    QFETCH(Jobs::State, to);
    QFETCH(bool, allowed);
    QCOMPARE(Jobs::canMove(from, to), allowed);
}

void TestLedger::loadedJobRules_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<bool>("mustAsk");
    QTest::addColumn<bool>("folderStays");
    const QStringList ran{ u"ran"_s };
    QTest::newRow("own deck, ran") << u"deck"_s << ran << false << true;
    QTest::newRow("portal job, as imported") << u"portal"_s << QStringList() << false << false;
    QTest::newRow("portal job, ran") << u"portal"_s << ran << true << false;
    QTest::newRow("portal job, ran and uploaded")
            << u"portal"_s << QStringList{ u"ran"_s, u"uploaded"_s } << false << false;
    QTest::newRow("portal job, uploaded and ran again")
            << u"portal"_s << QStringList{ u"uploaded"_s, u"ran"_s } << true << false;
    QTest::newRow("portal job, ran and kept")
            << u"portal"_s << QStringList{ u"ran"_s, u"kept"_s } << false << true;
    QTest::newRow("portal job picked from the list, ran") << u"listed"_s << ran << false << true;
}

void TestLedger::loadedJobRules()
{
    QFETCH(QString, kind);
    QFETCH(QStringList, events);
    QFETCH(bool, mustAsk);
    QFETCH(bool, folderStays);
    auto folder = std::make_unique<QTemporaryDir>();
    const QString path = folder->path();
    const QString deck = writeFile(path + u"/mgo.d12"_s, "deck\n");
    const PortalIdentity identity{ 7, u"token"_s, kind == u"portal"_s ? 42 : 0 };
    folder->setAutoRemove(kind == u"portal"_s);
    {
        LoadedJob loaded = kind == u"deck"_s ? LoadedJob(deck)
                : kind == u"listed"_s        ? LoadedJob(deck, identity)
                                             : LoadedJob(deck, identity, std::move(folder));
        QCOMPARE(loaded.workDir(), path);
        for (const QString &event : events) {
            if (event == u"ran"_s)
                loaded.ran();
            else if (event == u"uploaded"_s)
                loaded.uploaded();
            else
                loaded.kept(path);
        }
        QCOMPARE(loaded.releaseMustAsk(), mustAsk);
        QCOMPARE(loaded.isPortalJob(), kind != u"deck"_s);
        QCOMPARE(loaded.keptName(), kind == u"portal"_s ? u"42"_s : QFileInfo(path).fileName());
    }
    folder.reset();
    QCOMPARE(QFileInfo::exists(deck), folderStays);
    QDir(path).removeRecursively();
}

QTEST_GUILESS_MAIN(TestLedger)
#include "tst_ledger.moc"
