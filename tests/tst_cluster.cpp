// SPDX-License-Identifier: GPL-3.0-or-later
// Jobs on a real one-node Slurm cluster reached through a real sshd on the loopback, both
// started by tests/cluster/testcluster.sh with all their state in a temporary folder.
#include "cluster/clusterbackend.h"
#include "cluster/clusterprobe.h"
#include "job/jobmanager.h"
#include "job/jobplanner.h"
#include "testsupport.h"

#include <QProcess>
#include <QSignalSpy>
#include <QtTest>

using namespace Qt::StringLiterals;

class TestCluster : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void runsOnTheCluster_data();
    void runsOnTheCluster();
    void followedAndStopped();
    void pickedUpAfterRestart();
    void hostKeyFaults_data();
    void hostKeyFaults();
    void passphraseAsked_data();
    void passphraseAsked();

private:
    ClusterProfile profile() const;
    SshConfig ssh() const;
    // A job of the program on a deck whose text the stand-in package runs as a shell script.
    Job deckJob(const QString &program, const QByteArray &deck);
    // Starts the job on the cluster and waits for its end; its id, or 0.
    qint64 run(JobManager &jobs, const Job &job);

    IsolatedEnvironment m_env;
    QString remoteDir() const { return m_dir + u"/remote's jobs"_s; }

    QString m_cluster;
    QString m_dir;
};

void TestCluster::initTestCase()
{
    m_cluster = m_env.path() + u"/cluster"_s;
    QProcess start;
    start.start(u"" MOLTRA_TEST_CLUSTER ""_s, { u"start"_s, m_cluster });
    QVERIFY(start.waitForFinished(60000));
    const QString why = QString::fromLocal8Bit(start.readAllStandardError()).trimmed();
    if (start.exitCode() == 77) {
        // CI runs as root with the packages installed: a skip there hides a fault.
        if (qEnvironmentVariable("CI") == "true"_L1)
            QFAIL(qPrintable(u"The cluster tests cannot run in CI: "_s + why));
        QSKIP(qPrintable(u"The cluster tests cannot run here: "_s + why));
    }
    QVERIFY2(start.exitCode() == 0, qPrintable(why));
    // The cluster's package: each program runs its deck as a shell script.
    for (const QString &program : { u"moltra"_s, u"evalix"_s })
        writeScript(m_cluster + u"/package/"_s + program, "exec bash -s\n");
}

void TestCluster::cleanupTestCase()
{
    QProcess::execute(u"" MOLTRA_TEST_CLUSTER ""_s, { u"stop"_s, m_cluster });
}

void TestCluster::init()
{
    static int round = 0;
    m_dir = m_env.path() + u"/round%1"_s.arg(++round);
    QVERIFY(QDir().mkpath(m_dir + u"/control"_s));
}

ClusterProfile TestCluster::profile() const
{
    ClusterProfile profile;
    profile.name = u"test"_s;
    profile.host = u"moltra-test"_s;
    profile.sshOptions = u"-F '%1/ssh_config'"_s.arg(m_cluster);
    // A blank and a quote in the remote folder: paths go into commands quoted.
    profile.remoteDir = remoteDir();
    profile.packageDir = m_cluster + u"/package"_s;
    profile.timeLimit = u"0:10:00"_s;
    profile.pollSeconds = 1;
    return profile;
}

SshConfig TestCluster::ssh() const
{
    SshConfig config;
    config.controlDir = m_dir + u"/control"_s;
    config.timeoutMs = 20000;
    return config;
}

Job TestCluster::deckJob(const QString &program, const QByteArray &deck)
{
    Job job;
    job.workDir = m_dir + u"/work"_s;
    const bool evalix = program == "evalix"_L1;
    job.deck = writeFile(job.workDir + (evalix ? u"/mgo.d3"_s : u"/mgo.d12"_s), deck);
    job.program = program;
    job.where = u"test"_s;
    job.plan
            = JobPlanner::plan(profile().packageConfig({}), program, job.deck, job.workDir, 1).plan;
    return job;
}

qint64 TestCluster::run(JobManager &jobs, const Job &job)
{
    QSignalSpy ended(&jobs, &JobManager::jobEnded);
    QString error;
    const qint64 id = jobs.start(job, &error);
    if (!id)
        qWarning() << error;
    else if (!ended.wait(60000))
        qWarning() << "the job did not end";
    return id;
}

void TestCluster::runsOnTheCluster_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QByteArray>("deck");
    QTest::addColumn<QByteArray>("moltraDeck");
    QTest::addColumn<Jobs::State>("state");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<QString>("resultFile");
    QTest::addColumn<QByteArray>("result");

    QTest::newRow("moltra finishes")
            << u"moltra"_s << "echo energy -275.6; echo wave > fort.9\n"_ba
            << ""_ba << Jobs::State::Finished << QString() << u"fort.9"_s << "wave\n"_ba;
    QTest::newRow("moltra fails") << u"moltra"_s << "echo partial; echo broken >&2; exit 3\n"_ba
                                  << ""_ba << Jobs::State::Failed << u"moltra exited with code 3"_s
                                  << u"mgo.out.err"_s << "broken\n"_ba;
    QTest::newRow("evalix after its moltra step")
            << u"evalix"_s << "echo bands\n"_ba
            << "echo scf; echo wave > fort.9\n"_ba << Jobs::State::Finished << QString()
            << u"mgo.outp.out"_s << "scf\n"_ba;
    QTest::newRow("moltra step leaves no fort.9")
            << u"evalix"_s << "echo bands\n"_ba
            << "echo scf\n"_ba << Jobs::State::Failed << u"moltra left no fort.9"_s << u"mgo.outp"_s
            << QByteArray();
}

void TestCluster::runsOnTheCluster()
{
    QFETCH(QString, program);
    QFETCH(QByteArray, deck);
    QFETCH(QByteArray, moltraDeck);
    QFETCH(Jobs::State, state);
    QFETCH(QString, reason);
    QFETCH(QString, resultFile);
    QFETCH(QByteArray, result);

    const Job job = deckJob(program, deck);
    if (!moltraDeck.isEmpty())
        writeFile(job.workDir + u"/mgo.d12"_s, moltraDeck);
    JobManager jobs(m_dir + u"/jobs.sqlite"_s);
    jobs.setBackend(u"test"_s, new ClusterBackend(profile(), ssh()));
    const qint64 id = run(jobs, job);
    QVERIFY(id);
    QCOMPARE(jobs.find(id)->state, state);
    QCOMPARE(jobs.find(id)->reason, reason);
    QVERIFY(!jobs.find(id)->remoteId.isEmpty());
    // Home with the end: the results, and the remote folder stays.
    QCOMPARE(QFile::exists(job.workDir + u"/"_s + resultFile), !result.isEmpty());
    if (!result.isEmpty())
        QCOMPARE(readFile(job.workDir + u"/"_s + resultFile), result);
    QVERIFY(QFileInfo::exists(
            u"%1/%2/moltra-job.sh"_s.arg(remoteDir(), ClusterBackend::folderName(*jobs.find(id)))));
}

void TestCluster::followedAndStopped()
{
    JobManager jobs(m_dir + u"/jobs.sqlite"_s);
    jobs.setBackend(u"test"_s, new ClusterBackend(profile(), ssh()));
    QString error;
    const qint64 id
            = jobs.start(deckJob(u"moltra"_s, "echo cycle 1; sleep 300; echo never\n"), &error);
    QVERIFY2(id, qPrintable(error));
    QTRY_COMPARE_WITH_TIMEOUT(jobs.find(id)->state, Jobs::State::Running, 30000);
    // The output grows in the local file while the job runs.
    jobs.follow(id);
    QTRY_COMPARE_WITH_TIMEOUT(readFile(jobs.find(id)->outputFile), "cycle 1\n"_ba, 15000);
    // Later fetches take only what is new.
    QTest::qWait(2 * ClusterBackend::FollowIntervalMs + 500);
    QCOMPARE(readFile(jobs.find(id)->outputFile), "cycle 1\n"_ba);
    jobs.stop(id);
    QCOMPARE(jobs.find(id)->state, Jobs::State::Stopping);
    QTRY_COMPARE_WITH_TIMEOUT(jobs.find(id)->state, Jobs::State::Stopped, 30000);
    QVERIFY(!readFile(jobs.find(id)->outputFile).contains("never"));
}

void TestCluster::pickedUpAfterRestart()
{
    const QString ledger = m_dir + u"/jobs.sqlite"_s;
    const Job job = deckJob(u"moltra"_s, "sleep 4; echo late\n");
    qint64 id = 0;
    {
        JobManager jobs(ledger);
        jobs.setBackend(u"test"_s, new ClusterBackend(profile(), ssh()));
        QString error;
        id = jobs.start(job, &error);
        QVERIFY2(id, qPrintable(error));
        QTRY_VERIFY_WITH_TIMEOUT(!jobs.find(id)->remoteId.isEmpty(), 30000);
    }
    // Closing the launcher left the job alone on the cluster.
    JobManager jobs(ledger);
    QVERIFY(Jobs::isActive(jobs.find(id)->state));
    jobs.setBackend(u"test"_s, new ClusterBackend(profile(), ssh()));
    QTRY_COMPARE_WITH_TIMEOUT(jobs.find(id)->state, Jobs::State::Finished, 60000);
    QCOMPARE(readFile(job.plan.output), "late\n"_ba);
}

void TestCluster::hostKeyFaults_data()
{
    QTest::addColumn<bool>("otherKey");
    QTest::addColumn<QString>("said");
    QTest::newRow("unknown host key") << false << u"is unknown"_s;
    QTest::newRow("changed host key") << true << u"has changed"_s;
}

void TestCluster::hostKeyFaults()
{
    QFETCH(bool, otherKey);
    QFETCH(QString, said);

    QByteArray knownHosts;
    if (otherKey) {
        QVERIFY(QProcess::execute(u"ssh-keygen"_s,
                                  { u"-q"_s, u"-t"_s, u"ed25519"_s, u"-N"_s, QString(), u"-f"_s,
                                    m_dir + u"/other"_s })
                == 0);
        const QByteArray line = readFile(m_cluster + u"/ssh/known_hosts"_s);
        knownHosts = line.left(line.indexOf(' ')) + ' ' + readFile(m_dir + u"/other.pub"_s);
    }
    const QString knownHostsFile = writeFile(m_dir + u"/known_hosts"_s, knownHosts);
    ClusterProfile strange = profile();
    strange.sshOptions += u" -o UserKnownHostsFile='%1'"_s.arg(knownHostsFile);
    JobManager jobs(QString{});
    jobs.setBackend(u"test"_s, new ClusterBackend(strange, ssh()));
    const Job job = deckJob(u"moltra"_s, "echo never\n");
    QSignalSpy ended(&jobs, &JobManager::jobEnded);
    const qint64 id = run(jobs, job);
    QVERIFY(id);
    QCOMPARE(jobs.find(id)->state, Jobs::State::Failed);
    QVERIFY2(jobs.find(id)->reason.contains(u"not submitted"_s), qPrintable(jobs.find(id)->reason));
    QVERIFY(!QFileInfo::exists(remoteDir()));
    QCOMPARE(readFile(job.deck), "echo never\n"_ba);
    const QString message = ended.first().at(1).value<JobOutcome>().message;
    QVERIFY2(message.contains(said), qPrintable(message));
}

void TestCluster::passphraseAsked_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<bool>("connected");
    QTest::addColumn<QString>("said");
    QTest::newRow("right passphrase") << "secret"_ba << true << u"Partitions: debug*"_s;
    QTest::newRow("wrong passphrase") << "guess"_ba << false << u"refused the login"_s;
}

void TestCluster::passphraseAsked()
{
    QFETCH(QByteArray, answer);
    QFETCH(bool, connected);
    QFETCH(QString, said);

    // A key with a passphrase, the only one that the client offers.
    const QString key = m_dir + u"/pass_key"_s;
    QVERIFY(QProcess::execute(
                    u"ssh-keygen"_s,
                    { u"-q"_s, u"-t"_s, u"ed25519"_s, u"-N"_s, u"secret"_s, u"-f"_s, key })
            == 0);
    QFile authorized(m_cluster + u"/ssh/authorized_keys"_s);
    QVERIFY(authorized.open(QIODevice::Append));
    authorized.write(readFile(key + u".pub"_s));
    authorized.close();
    const QString config
            = writeFile(m_dir + u"/ssh_config"_s,
                        readFile(m_cluster + u"/ssh_config"_s)
                                .replace(m_cluster.toUtf8() + "/ssh/client_key", key.toUtf8()));
    SshConfig asking = ssh();
    asking.askpass
            = writeScript(m_dir + u"/askpass"_s,
                          "echo \"$1\" >> " + m_dir.toUtf8() + "/prompts\necho " + answer + "\n");
    ClusterProfile profile = this->profile();
    profile.sshOptions = u"-F "_s + config;

    ClusterProbe probe(profile, asking);
    QSignalSpy finished(&probe, &ClusterProbe::finished);
    probe.start();
    QVERIFY(finished.wait(30000));
    QCOMPARE(finished.first().at(0).toBool(), connected);
    QVERIFY2(finished.first().at(1).toString().contains(said),
             qPrintable(finished.first().at(1).toString()));
    QVERIFY(readFile(m_dir + u"/prompts"_s).contains("passphrase"));
}

QTEST_GUILESS_MAIN(TestCluster)
#include "tst_cluster.moc"
