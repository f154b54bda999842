// SPDX-License-Identifier: GPL-3.0-or-later
// The cluster backend against stand-ins for ssh and Slurm's commands: the remote commands run
// on this computer in a folder standing for the remote home, and each fault is one file away.
#include "cluster/clusterbackend.h"
#include "job/jobledger.h"
#include "job/jobmanager.h"
#include "job/jobplanner.h"
#include "testsupport.h"

#include <QSignalSpy>
#include <QtTest>

using namespace Qt::StringLiterals;

class TestSlurm : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void queueFollowed_data();
    void queueFollowed();
    void submittedOnce_data();
    void submittedOnce();
    void refusedBeforeCopying_data();
    void refusedBeforeCopying();
    void copyHomeRetried_data();
    void copyHomeRetried();
    void stoppedBeforeSubmitted();
    void usageFromAccounting_data();
    void usageFromAccounting();
    void foldersApartAcrossLedgers();

private:
    // Sets what a stand-in answers: the file of that name in the stand-ins' folder.
    void answer(const QString &name, const QByteArray &content);
    ClusterProfile profile() const;
    SshConfig ssh() const;
    Job deckJob();
    // A job script's record of a step that ended with this status, and of the job's end.
    static QByteArray record(int status, const char *end);
    // A job that an earlier launcher submitted as Slurm's job 7, as its ledger keeps it.
    Job recordedJob(const QString &ledgerPath);
    QString remoteJobDir(qint64 id) const { return m_dir + u"/home/jobs/%1"_s.arg(id); }

    IsolatedEnvironment m_env;
    QString m_dir;
};

void TestSlurm::init()
{
    static int round = 0;
    m_dir = m_env.path() + u"/round%1"_s.arg(++round);
    writeFakeCluster(m_dir);
}

void TestSlurm::answer(const QString &name, const QByteArray &content)
{
    writeFile(m_dir + u"/fake/"_s + name, content);
}

ClusterProfile TestSlurm::profile() const
{
    ClusterProfile profile;
    profile.name = u"fake"_s;
    profile.host = u"cluster"_s;
    profile.remoteDir = u"jobs"_s;
    profile.packageDir = m_dir + u"/package"_s;
    profile.partition = u"debug"_s;
    profile.pollSeconds = 1;
    return profile;
}

SshConfig TestSlurm::ssh() const
{
    SshConfig config;
    config.ssh = m_dir + u"/bin/ssh"_s;
    config.controlDir = m_dir;
    config.timeoutMs = 2000;
    return config;
}

Job TestSlurm::deckJob()
{
    Job job;
    job.workDir = m_dir + u"/work"_s;
    job.deck = writeFile(job.workDir + u"/mgo.d12"_s, "deck\n");
    writeFile(job.workDir + u"/fort.34"_s, "geometry\n");
    job.program = u"moltra"_s;
    job.cores = 2;
    job.where = u"fake"_s;
    job.plan = JobPlanner::plan(profile().packageConfig({}), job.program, job.deck, job.workDir, 2)
                       .plan;
    return job;
}

QByteArray TestSlurm::record(int status, const char *end)
{
    return "moltra-status 1\nstep 1 start 1796680000.25\nstep 1 end 1796680004.5 "
            + QByteArray::number(status) + " 0m1.500s 0m0.250s -\nend 1796680004.75 " + end + '\n';
}

Job TestSlurm::recordedJob(const QString &ledgerPath)
{
    Job job = deckJob();
    job.outputFile = job.plan.output;
    job.state = Jobs::State::Submitted;
    job.remoteId = u"7"_s;
    JobLedger ledger(ledgerPath);
    if (!ledger.record(job))
        qWarning("the ledger did not take the job");
    writeFile(remoteJobDir(job.id) + u"/moltra.jobid"_s, "7\n");
    writeFile(remoteJobDir(job.id) + u"/mgo.out"_s, "the whole output\n");
    return job;
}

void TestSlurm::queueFollowed_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QByteArray>("squeue");
    QTest::addColumn<int>("squeueExit");
    QTest::addColumn<QByteArray>("status");
    QTest::addColumn<QByteArray>("scontrol");
    QTest::addColumn<Jobs::State>("state");
    QTest::addColumn<QString>("said");

    const QByteArray unknown = "slurm_load_jobs error: Invalid job id specified\n";
    QTest::newRow("pending") << QString() << "7|PENDING|Priority\n"_ba << 0 << ""_ba
                             << ""_ba << Jobs::State::Queued << QString();
    QTest::newRow("running") << QString() << "7|RUNNING|None\n"_ba << 0 << ""_ba
                             << ""_ba << Jobs::State::Running << QString();
    QTest::newRow("left the queue, finished") << QString() << ""_ba << 0 << record(0, "finished")
                                              << ""_ba << Jobs::State::Finished << QString();
    QTest::newRow("left the queue, failed")
            << QString() << ""_ba << 0 << record(3, "failed") << ""_ba << Jobs::State::Failed
            << u"moltra exited with code 3"_s;
    QTest::newRow("unknown to squeue, finished")
            << QString() << "squeue: error: Invalid job id specified\n"_ba << 1
            << record(0, "finished") << ""_ba << Jobs::State::Finished << QString();
    // Its end is in its record, whatever the queue still says.
    QTest::newRow("completing, record ended")
            << QString() << "7|COMPLETING|None\n"_ba << 0 << record(0, "finished") << ""_ba
            << Jobs::State::Finished << QString();
    QTest::newRow("configuring, no record") << QString() << "7|CONFIGURING|None\n"_ba << 0 << ""_ba
                                            << ""_ba << Jobs::State::Queued << QString();
    QTest::newRow("record of an older layout, left the queue")
            << QString() << ""_ba << 0 << "1 0\n"_ba << unknown << Jobs::State::Lost
            << u"without an exit status"_s;
    QTest::newRow("squeue failing otherwise")
            << QString() << "squeue: error: Unable to contact slurm controller\n"_ba << 1
            << record(0, "finished") << ""_ba << Jobs::State::Submitted << u"Unable to contact"_s;
    QTest::newRow("vanished without an exit status")
            << QString() << ""_ba << 0 << ""_ba << unknown << Jobs::State::Lost
            << u"without an exit status"_s;
    QTest::newRow("cancelled by someone else")
            << QString() << ""_ba << 0 << ""_ba
            << "JobId=7 JobName=mgo JobState=CANCELLED Reason=None ExitCode=0:15\n"_ba
            << Jobs::State::Stopped << u"cancelled on the cluster"_s;
    QTest::newRow("timed out")
            << QString() << ""_ba << 0 << ""_ba
            << "JobId=7 JobName=mgo JobState=TIMEOUT Reason=TimeLimit ExitCode=0:0\n"_ba
            << Jobs::State::Failed << u"time limit"_s;
    QTest::newRow("ssh exit 255") << u"refused"_s << ""_ba << 0 << record(0, "finished") << ""_ba
                                  << Jobs::State::Submitted << u"not reachable since"_s;
    QTest::newRow("empty answer") << u"empty"_s << ""_ba << 0 << record(0, "finished") << ""_ba
                                  << Jobs::State::Submitted << u"incomplete"_s;
    QTest::newRow("stalled connection") << u"stall"_s << ""_ba << 0 << record(0, "finished")
                                        << ""_ba << Jobs::State::Submitted << u"did not answer"_s;
}

void TestSlurm::queueFollowed()
{
    QFETCH(QString, mode);
    QFETCH(QByteArray, squeue);
    QFETCH(int, squeueExit);
    QFETCH(QByteArray, status);
    QFETCH(QByteArray, scontrol);
    QFETCH(Jobs::State, state);
    QFETCH(QString, said);

    const QString ledgerPath = m_dir + u"/jobs.sqlite"_s;
    const Job job = recordedJob(ledgerPath);
    if (!status.isEmpty())
        writeFile(remoteJobDir(job.id) + u"/moltra.status"_s, status);
    answer(u"mode"_s, mode.toUtf8());
    answer(u"squeue"_s, squeue);
    answer(u"squeue.exit"_s, QByteArray::number(squeueExit));
    answer(u"scontrol"_s, scontrol);

    JobManager jobs(ledgerPath);
    QSignalSpy changed(&jobs, &JobManager::jobStateChanged);
    QSignalSpy notices(&jobs, &JobManager::backendNotice);
    jobs.setBackend(u"fake"_s, new ClusterBackend(profile(), ssh()));
    QTRY_VERIFY_WITH_TIMEOUT(changed.size() + notices.size() > 0, 10000);
    if (!Jobs::isActive(state))
        QTRY_VERIFY_WITH_TIMEOUT(!Jobs::isActive(jobs.find(job.id)->state), 10000);
    QCOMPARE(jobs.find(job.id)->state, state);
    const QString told = jobs.find(job.id)->reason + notices.value(0).value(0).toString();
    QVERIFY2(told.contains(said), qPrintable(told));
    // The results come home with the end, and only then.
    QCOMPARE(QFile::exists(job.outputFile), !Jobs::isActive(state));
    // The job's own clock gives its duration, not the look that saw its end.
    if (status.startsWith("moltra-status") && !Jobs::isActive(state))
        QCOMPARE(jobs.find(job.id)->started.msecsTo(jobs.find(job.id)->ended), 4500);
}

void TestSlurm::submittedOnce_data()
{
    QTest::addColumn<QString>("mode");
    QTest::newRow("answered") << QString();
    // sbatch took the job, but its answer never came: the id is read from the job's folder.
    QTest::newRow("answer lost") << u"lose-submit"_s;
}

void TestSlurm::submittedOnce()
{
    QFETCH(QString, mode);
    answer(u"mode"_s, mode.toUtf8());
    answer(u"squeue"_s, "7|RUNNING|None\n");
    writeFile(m_dir + u"/work/mgo.out"_s, "an earlier run's output\n");

    JobManager jobs{ QString() };
    auto *backend = new ClusterBackend(profile(), ssh());
    jobs.setBackend(u"fake"_s, backend);
    QString error;
    const qint64 id = jobs.start(deckJob(), &error);
    QVERIFY2(id, qPrintable(error));
    QCOMPARE(jobs.find(id)->state, Jobs::State::Submitted);
    QTRY_COMPARE_WITH_TIMEOUT(jobs.find(id)->state, Jobs::State::Running, 10000);
    QCOMPARE(jobs.find(id)->remoteId, u"7"_s);
    QElapsedTimer clock;
    clock.start();
    // Another look at the queue, which must not submit it again.
    answer(u"mode"_s, QByteArray());
    const int polls = backend->pollCount();
    QTRY_VERIFY_WITH_TIMEOUT(backend->pollCount() > polls + 1, 10000);
    // Never more often than the profile says, however fast the answers come.
    QVERIFY(backend->pollCount() - polls <= clock.elapsed() / 1000 + 1);

    const QString remote = m_dir + u"/home/jobs/"_s + ClusterBackend::folderName(*jobs.find(id));
    QCOMPARE(readFile(m_dir + u"/fake/sbatch.log"_s).count('\n'), 1);
    QCOMPARE(readFile(remote + u"/mgo.d12"_s), "deck\n"_ba);
    QCOMPARE(readFile(remote + u"/fort.34"_s), "geometry\n"_ba);
    const QByteArray script = readFile(remote + u"/moltra-job.sh"_s);
    QVERIFY(script.contains("#SBATCH --ntasks=2\n"));
    QVERIFY(script.contains("#SBATCH --partition=debug\n"));
    QVERIFY(script.contains(m_dir.toUtf8() + "/package/moltra"));
    // The earlier output is kept beside the new one's mirror.
    QCOMPARE(readFile(m_dir + u"/work/mgo.out~"_s), "an earlier run's output\n"_ba);

    jobs.stop(id);
    QCOMPARE(jobs.find(id)->state, Jobs::State::Stopping);
    QTRY_COMPARE(readFile(m_dir + u"/fake/scancel.log"_s), "7\n"_ba);
    // The step died of the cancel: its status is the signal's, and the job was stopped.
    writeFile(remote + u"/moltra.status"_s, record(143, "failed"));
    answer(u"squeue"_s, QByteArray());
    QTRY_COMPARE_WITH_TIMEOUT(jobs.find(id)->state, Jobs::State::Stopped, 10000);
}

void TestSlurm::refusedBeforeCopying_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("remoteDir");
    QTest::addColumn<QByteArray>("sbatchRefuses");
    QTest::addColumn<bool>("executable");
    QTest::addColumn<QString>("said");

    QTest::newRow("empty host") << QString() << u"jobs"_s << ""_ba << true << u"no host"_s;
    QTest::newRow("remote folder above the home")
            << u"cluster"_s << u"jobs/../.."_s << ""_ba << true << u"without \"..\""_s;
    QTest::newRow("partition refused")
            << u"cluster"_s << u"jobs"_s << "sbatch: error: invalid partition specified: nope\n"_ba
            << true << u"invalid partition specified: nope"_s;
    QTest::newRow("no executable")
            << u"cluster"_s << u"jobs"_s << ""_ba << false << u"no executable file"_s;
}

void TestSlurm::refusedBeforeCopying()
{
    QFETCH(QString, host);
    QFETCH(QString, remoteDir);
    QFETCH(QByteArray, sbatchRefuses);
    QFETCH(bool, executable);
    QFETCH(QString, said);

    answer(u"refuse"_s, sbatchRefuses);
    if (!executable)
        QVERIFY(QFile::remove(m_dir + u"/package/moltra"_s));
    ClusterProfile refusing = profile();
    refusing.host = host;
    refusing.remoteDir = remoteDir;
    JobManager jobs{ QString() };
    jobs.setBackend(u"fake"_s, new ClusterBackend(refusing, ssh()));
    QSignalSpy ended(&jobs, &JobManager::jobEnded);
    QString error;
    const qint64 id = jobs.start(deckJob(), &error);
    if (id) {
        QTRY_COMPARE_WITH_TIMEOUT(ended.size(), 1, 10000);
        QCOMPARE(jobs.find(id)->state, Jobs::State::Failed);
        error = ended.first().at(1).value<JobOutcome>().message;
    }
    QVERIFY2(error.contains(said), qPrintable(error));
    QVERIFY(!QFileInfo::exists(remoteJobDir(1)));
    QCOMPARE(readFile(m_dir + u"/work/mgo.d12"_s), "deck\n"_ba);
    QVERIFY(!QFileInfo::exists(m_dir + u"/fake/sbatch.log"_s));
}

void TestSlurm::copyHomeRetried_data()
{
    QTest::addColumn<QString>("mode"); // of the copy at the job's end
    QTest::addColumn<int>("followed"); // bytes of the output that came while it was followed
    QTest::addColumn<int>("kept"); // after that copy; -1: no file
    QTest::addColumn<QStringList>("from"); // where the copies of the output began
    QTest::newRow("refused: nothing is kept")
            << u"no-fetch"_s << 0 << -1 << QStringList{ u"+1"_s, u"+1"_s };
    // Cut after 5,000 bytes, of which the first 4,096 are the last ones here, compared before
    // the rest is taken.
    QTest::newRow("cut: the next try goes on")
            << u"cut"_s << 6000 << 6904 << QStringList{ u"+1905"_s, u"+2809"_s };
}

void TestSlurm::copyHomeRetried()
{
    QFETCH(QString, mode);
    QFETCH(int, followed);
    QFETCH(int, kept);
    QFETCH(QStringList, from);
    const QString ledgerPath = m_dir + u"/jobs.sqlite"_s;
    const Job job = recordedJob(ledgerPath);
    QByteArray whole;
    for (int cycle = 1; whole.size() < 10000; ++cycle)
        whole += "cycle " + QByteArray::number(cycle) + " energy -275.1\n";
    whole.truncate(10000);
    writeFile(remoteJobDir(job.id) + u"/mgo.out"_s, whole);
    if (followed > 0)
        writeFile(job.outputFile, whole.left(followed));
    writeFile(remoteJobDir(job.id) + u"/moltra.status"_s, record(0, "finished"));
    answer(u"mode"_s, mode.toUtf8());
    JobManager jobs(ledgerPath);
    jobs.setBackend(u"fake"_s, new ClusterBackend(profile(), ssh()));
    QTRY_COMPARE_WITH_TIMEOUT(jobs.find(job.id)->state, Jobs::State::Finished, 10000);
    QVERIFY(jobs.find(job.id)->reason.contains(u"not copied back"_s));
    QCOMPARE(QFile::exists(job.outputFile), kept >= 0);
    if (kept >= 0)
        QCOMPARE(readFile(job.outputFile), whole.left(kept));
    // Tried again from the Jobs tab, once the files can be read.
    answer(u"mode"_s, QByteArray());
    QSignalSpy fetched(&jobs, &JobManager::jobFetched);
    jobs.fetch(job.id);
    QVERIFY(fetched.wait(10000));
    QCOMPARE(fetched.first().at(1).toString(), QString());
    QCOMPARE(readFile(job.outputFile), whole);
    QStringList began;
    for (const QByteArray &copy : readFile(m_dir + u"/fake/copies.log"_s).split('\n')) {
        if (copy.endsWith("mgo.out'"))
            began << QString::fromLatin1(copy.split(' ').value(2));
    }
    QCOMPARE(began, from);
    // An output there that is not the one here comes whole.
    writeFile(remoteJobDir(job.id) + u"/mgo.out"_s, whole.right(7000));
    jobs.fetch(job.id);
    QVERIFY(fetched.wait(10000));
    QCOMPARE(readFile(job.outputFile), whole.right(7000));
}

void TestSlurm::stoppedBeforeSubmitted()
{
    // sbatch takes a second to answer, and Stop is pressed meanwhile; the queue is looked at
    // only every minute but for a cancelled job.
    answer(u"mode"_s, "slow-submit");
    answer(u"run"_s, QByteArray());
    writeStandIn(m_dir, u"moltra"_s, "exec sleep 30\n");
    ClusterProfile slow = profile();
    slow.pollSeconds = 60;
    JobManager jobs{ QString() };
    jobs.setBackend(u"fake"_s, new ClusterBackend(slow, ssh()));
    QString error;
    const qint64 id = jobs.start(deckJob(), &error);
    QVERIFY2(id, qPrintable(error));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(m_dir + u"/fake/submitting"_s), 10000);
    jobs.stop(id);
    QCOMPARE(jobs.find(id)->state, Jobs::State::Stopping);
    const qint64 step = waitForPid(m_dir + u"/moltra.pid"_s);
    QTRY_VERIFY_WITH_TIMEOUT(!Jobs::isActive(jobs.find(id)->state), 8000);
    QVERIFY2(jobs.find(id)->state == Jobs::State::Stopped, qPrintable(jobs.find(id)->reason));
    QCOMPARE(readFile(m_dir + u"/fake/scancel.log"_s), "7\n"_ba);
    QVERIFY(!processAlive(step));
}

void TestSlurm::usageFromAccounting_data()
{
    QTest::addColumn<QByteArray>("sacct"); // empty: the cluster keeps no accounts
    QTest::addColumn<double>("cpuSeconds");
    QTest::addColumn<qint64>("peakKiB");
    // The record's CPU time; its memory only a step wrapper knows.
    QTest::newRow("no accounting") << QByteArray() << 1.75 << qint64(-1);
    QTest::newRow("accounting, MPI ranks on other nodes")
            << "7|1-01:01:02.500|\n7.batch|00:00.100|2G\n7.0|01:02.000|512.5M\n"_ba << 90062.5
            << qint64(2 * 1024 * 1024);
}

void TestSlurm::usageFromAccounting()
{
    QFETCH(QByteArray, sacct);
    QFETCH(double, cpuSeconds);
    QFETCH(qint64, peakKiB);
    if (!sacct.isEmpty())
        answer(u"sacct"_s, sacct);
    const QString ledgerPath = m_dir + u"/jobs.sqlite"_s;
    const Job job = recordedJob(ledgerPath);
    writeFile(remoteJobDir(job.id) + u"/moltra.status"_s, record(0, "finished"));
    {
        JobManager jobs(ledgerPath);
        jobs.setBackend(u"fake"_s, new ClusterBackend(profile(), ssh()));
        QTRY_COMPARE_WITH_TIMEOUT(jobs.find(job.id)->state, Jobs::State::Finished, 10000);
    }
    // Kept in the ledger.
    const Job kept = JobLedger(ledgerPath).find(job.id);
    QCOMPARE(kept.usage.cpuSeconds, cpuSeconds);
    QCOMPARE(kept.usage.peakKiB, peakKiB);
}

void TestSlurm::foldersApartAcrossLedgers()
{
    // A ledger begun anew, or another computer's, counts its jobs from 1 again.
    for (const QString &ledger : { u"/a/jobs.sqlite"_s, u"/b/jobs.sqlite"_s }) {
        JobManager jobs(m_dir + ledger);
        jobs.setBackend(u"fake"_s, new ClusterBackend(profile(), ssh()));
        QSignalSpy ended(&jobs, &JobManager::jobEnded);
        QString error;
        const qint64 id = jobs.start(deckJob(), &error);
        QCOMPARE(id, 1);
        QTRY_COMPARE_WITH_TIMEOUT(jobs.find(id)->remoteId, u"7"_s, 10000);
        QVERIFY(ended.isEmpty());
    }
    QCOMPARE(readFile(m_dir + u"/fake/sbatch.log"_s).count('\n'), 2);
}

QTEST_GUILESS_MAIN(TestSlurm)
#include "tst_slurm.moc"
