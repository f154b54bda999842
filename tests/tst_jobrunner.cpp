#include "job/jobrunner.h"
#include "testsupport.h"

#include <QProcess>
#include <QSignalSpy>
#include <QtTest>

using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(JobRunner::Ending)

class TestJobRunner : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void steps_data();
    void steps();
    void stopReachesTheWholeProcessGroup();
    void stoppedStepDoesNotEndTheNextJob();
    void destructionKillsRunningSteps();

private:
    // A stand-in program that records its runs, pid, arguments, folder and standard input.
    QString standIn(const QString &name, const QByteArray &body);
    JobPlan plan(const QString &deck, bool flagD3);
    bool waitEnded(QSignalSpy &ended) { return ended.size() == 1 || ended.wait(15000); }

    IsolatedEnvironment m_env;
    QString m_dir;
    std::unique_ptr<JobRunner> m_runner;
};

void TestJobRunner::init()
{
    static int round = 0;
    m_dir = m_env.path() + u"/round %1"_s.arg(++round);
    QVERIFY(QDir().mkpath(m_dir + u"/work"_s));
    m_runner = std::make_unique<JobRunner>();
}

QString TestJobRunner::standIn(const QString &name, const QByteArray &body)
{
    const QByteArray rec = QFile::encodeName(m_dir + u'/' + name);
    return writeScript(m_dir + u"/package/"_s + name,
                       "rec='" + rec
                               + "'\necho run >> \"$rec.runs\"\necho $$ > \"$rec.pid\"\n"
                                 "echo $# $(pwd) > \"$rec.call\"\ncat > \"$rec.stdin\"\n"
                               + body);
}

JobPlan TestJobRunner::plan(const QString &deck, bool flagD3)
{
    JobPlan plan;
    plan.workDir = m_dir + u"/work"_s;
    plan.deck = writeFile(plan.workDir + u'/' + deck, "deck of " + deck.toUtf8() + '\n');
    plan.flagD3 = flagD3;
    plan.executable = m_dir + (flagD3 ? u"/package/evalix"_s : u"/package/moltra"_s);
    plan.output = plan.workDir + (flagD3 ? u"/mgo.outp"_s : u"/mgo.out"_s);
    plan.stepCount = flagD3 ? 2 : 1;
    plan.moltraExecutable = [this] { return m_dir + u"/package/moltra"_s; };
    return plan;
}

void TestJobRunner::steps_data()
{
    QTest::addColumn<bool>("flagD3");
    QTest::addColumn<bool>("fort9AtStart");
    QTest::addColumn<bool>("leavesFort9");
    QTest::addColumn<QString>("missing");
    QTest::addColumn<QStringList>("outputs");
    QTest::addColumn<JobRunner::Ending>("ending");
    QTest::addColumn<QString>("message");
    const auto finished = JobRunner::Ending::Finished;
    QTest::newRow("MOLTRA job") << false << false << true << QString()
                                << QStringList{ u"mgo.out"_s } << finished << QString();
    QTest::newRow("EVALIX job runs MOLTRA first")
            << true << false << true << QString() << QStringList{ u"mgo.outp.out"_s, u"mgo.outp"_s }
            << finished << QString();
    QTest::newRow("EVALIX job with fort.9 present")
            << true << true << true << QString() << QStringList{ u"mgo.outp"_s } << finished
            << QString();
    QTest::newRow("MOLTRA step leaves no fort.9")
            << true << false << false << QString() << QStringList{ u"mgo.outp.out"_s }
            << JobRunner::Ending::NoFort9
            << u"The MOLTRA step ended without leaving fort.9 in the working directory, so the EVALIX step cannot run."_s;
    QTest::newRow("MOLTRA executable missing")
            << false << false << true << u"moltra"_s << QStringList{}
            << JobRunner::Ending::FailedToStart << u"Unable to start the .d12 job: "_s;
    QTest::newRow("EVALIX executable missing")
            << true << true << true << u"evalix"_s << QStringList{}
            << JobRunner::Ending::FailedToStart << u"Unable to start the .d3 job: "_s;
}

void TestJobRunner::steps()
{
    QFETCH(bool, flagD3);
    QFETCH(bool, fort9AtStart);
    QFETCH(bool, leavesFort9);
    QFETCH(QString, missing);
    QFETCH(QStringList, outputs);
    QFETCH(JobRunner::Ending, ending);
    QFETCH(QString, message);
    standIn(u"moltra"_s,
            leavesFort9 ? "echo MOLTRA output\necho wf > fort.9\n" : "echo MOLTRA output\n");
    standIn(u"evalix"_s, "echo EVALIX output\n");
    if (!missing.isEmpty())
        QFile::remove(m_dir + u"/package/"_s + missing);
    JobPlan job = plan(flagD3 ? u"mgo.scf.d3"_s : u"mgo.scf.d12"_s, flagD3);
    writeFile(job.workDir + u"/mgo.d12"_s, "companion deck\n");
    if (fort9AtStart)
        writeFile(job.workDir + u"/fort.9"_s, "wf\n");
    for (const QString &name : outputs)
        writeFile(job.workDir + u'/' + name, "left over from an earlier run, longer than now\n");

    QSignalSpy started(m_runner.get(), &JobRunner::stepStarted);
    QSignalSpy ended(m_runner.get(), &JobRunner::jobEnded);
    m_runner->begin(job);
    QVERIFY(m_runner->isRunning());
    m_runner->compute();
    QVERIFY(waitEnded(ended));
    QVERIFY(!m_runner->isRunning());
    QCOMPARE(ended.first().at(0).value<JobRunner::Ending>(), ending);
    const QString shown = ended.first().at(1).toString();
    QVERIFY2(message.isEmpty() ? shown.isEmpty() : shown.startsWith(message), qPrintable(shown));

    QStringList startedOutputs;
    for (const QList<QVariant> &step : started)
        startedOutputs << QFileInfo(step.at(1).toString()).fileName();
    if (missing.isEmpty())
        QCOMPARE(startedOutputs, outputs);
    for (const QString &name : outputs) {
        QCOMPARE(readFile(job.workDir + u'/' + name),
                 name.endsWith(u".outp"_s) ? "EVALIX output\n" : "MOLTRA output\n");
    }
    const QByteArray call = "0 " + QFile::encodeName(job.workDir) + '\n';
    if (outputs.contains(u"mgo.out"_s) || outputs.contains(u"mgo.outp.out"_s)) {
        QCOMPARE(readFile(m_dir + u"/moltra.runs"_s), QByteArray("run\n"));
        QCOMPARE(readFile(m_dir + u"/moltra.call"_s), call);
        QCOMPARE(readFile(m_dir + u"/moltra.stdin"_s),
                 flagD3 ? QByteArray("companion deck\n") : readFile(job.deck));
    }
    if (outputs.contains(u"mgo.outp"_s)) {
        QCOMPARE(readFile(m_dir + u"/evalix.call"_s), call);
        QCOMPARE(readFile(m_dir + u"/evalix.stdin"_s), readFile(job.deck));
    }
    QTRY_VERIFY(m_runner->findChildren<QProcess *>().isEmpty());
}

void TestJobRunner::stopReachesTheWholeProcessGroup()
{
    standIn(u"moltra"_s, "sleep 60 &\necho $! > \"$rec.child\"\nwait\n");
    QSignalSpy ended(m_runner.get(), &JobRunner::jobEnded);
    m_runner->begin(plan(u"mgo.d12"_s, false));
    m_runner->compute();
    const qint64 leader = waitForPid(m_dir + u"/moltra.pid"_s);
    const qint64 child = waitForPid(m_dir + u"/moltra.child"_s);
    QVERIFY(processAlive(leader) && processAlive(child));
    m_runner->stop();
    QCOMPARE(ended.size(), 1);
    QCOMPARE(ended.first().at(0).value<JobRunner::Ending>(), JobRunner::Ending::Stopped);
    QTRY_VERIFY(!processAlive(leader) && !processAlive(child));
}

void TestJobRunner::stoppedStepDoesNotEndTheNextJob()
{
    // The first job's program takes its time to end after the termination request.
    standIn(u"moltra"_s, "trap 'sleep 1; exit 0' TERM\nwhile :; do sleep 0.1; done\n");
    QSignalSpy ended(m_runner.get(), &JobRunner::jobEnded);
    m_runner->begin(plan(u"mgo.d12"_s, false));
    m_runner->compute();
    waitForPid(m_dir + u"/moltra.pid"_s);
    m_runner->stop();
    standIn(u"evalix"_s, "sleep 3\n");
    m_runner->begin(plan(u"mgo.d3"_s, true));
    writeFile(m_dir + u"/work/fort.9"_s, "wf\n");
    m_runner->compute();
    QTest::qWait(2000);
    QCOMPARE(ended.size(), 1);
    QVERIFY(m_runner->isRunning());
    QVERIFY(ended.wait(5000));
    QCOMPARE(ended.at(1).at(0).value<JobRunner::Ending>(), JobRunner::Ending::Finished);
}

void TestJobRunner::destructionKillsRunningSteps()
{
    standIn(u"moltra"_s, "trap '' TERM\nsleep 60 &\necho $! > \"$rec.child\"\nwait\n");
    m_runner->begin(plan(u"mgo.d12"_s, false));
    m_runner->compute();
    const qint64 leader = waitForPid(m_dir + u"/moltra.pid"_s);
    const qint64 child = waitForPid(m_dir + u"/moltra.child"_s);
    m_runner.reset();
    QVERIFY(!processAlive(leader));
    QTRY_VERIFY(!processAlive(child));
}

QTEST_GUILESS_MAIN(TestJobRunner)
#include "tst_jobrunner.moc"
