// SPDX-License-Identifier: GPL-3.0-or-later
#include "job/jobrunner.h"
#include "testsupport.h"

#include <QProcess>
#include <QSignalSpy>
#include <QtTest>

using namespace Qt::StringLiterals;

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
    const QString program = flagD3 ? u"evalix"_s : u"moltra"_s;
    plan.command = { program, m_dir + u"/package/"_s + program, {} };
    plan.output = plan.workDir + (flagD3 ? u"/mgo.outp"_s : u"/mgo.out"_s);
    plan.stepCount = flagD3 ? 2 : 1;
    plan.moltraCommand = [this] {
        return StepCommand{ u"moltra"_s, m_dir + u"/package/moltra"_s, {} };
    };
    return plan;
}

void TestJobRunner::steps_data()
{
    QTest::addColumn<bool>("flagD3");
    QTest::addColumn<bool>("fort9AtStart");
    QTest::addColumn<QByteArray>("moltra"); // empty: no such executable
    QTest::addColumn<QStringList>("outputs");
    QTest::addColumn<int>("errorSize"); // of mgo.out.err or mgo.outp.out.err; -1: removed
    QTest::addColumn<JobRunner::Ending>("ending");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<QString>("message");
    const QByteArray ok = "echo MOLTRA output\necho wf > fort.9\n";
    const auto finished = JobRunner::Ending::Finished;
    const auto failed = JobRunner::Ending::Failed;
    QTest::newRow("MOLTRA job") << false << false << ok << QStringList{ u"mgo.out"_s } << -1
                                << finished << QString() << QString();
    QTest::newRow("EVALIX job runs MOLTRA first")
            << true << false << ok << QStringList{ u"mgo.outp.out"_s, u"mgo.outp"_s } << -1
            << finished << QString() << QString();
    QTest::newRow("EVALIX job with fort.9 present")
            << true << true << ok << QStringList{ u"mgo.outp"_s } << -1 << finished << QString()
            << QString();
    QTest::newRow("much error output")
            << false << false << ok + "head -c 1000000 /dev/zero | tr '\\0' e >&2\n"
            << QStringList{ u"mgo.out"_s } << 1000000 << finished << QString() << QString();
    QTest::newRow("exit code 3")
            << false << false
            << QByteArray("echo MOLTRA output\nfor i in $(seq 30); do echo \"bad $i\" >&2; done\n"
                          "exit 3\n")
            << QStringList{ u"mgo.out"_s } << 201 << failed << u"moltra exited with code 3"_s
            << u"moltra (step 1 of 1) exited with code 3.\n\nThe last lines of %1/mgo.out.err:\n\nbad 11\n"_s;
    QTest::newRow("killed by SIGSEGV")
            << false << false << QByteArray("echo MOLTRA output\nkill -SEGV $$\n")
            << QStringList{ u"mgo.out"_s } << -1 << failed << u"moltra was killed by SIGSEGV"_s
            << u"moltra (step 1 of 1) was killed by SIGSEGV."_s;
    QTest::newRow("failing MOLTRA step ends the EVALIX job")
            << true << false << ok + "exit 1\n"
            << QStringList{ u"mgo.outp.out"_s } << -1 << failed << u"moltra exited with code 1"_s
            << u"moltra (step 1 of 2) exited with code 1."_s;
    QTest::newRow("MOLTRA step leaves no fort.9")
            << true << false << QByteArray("echo MOLTRA output\n")
            << QStringList{ u"mgo.outp.out"_s } << -1 << JobRunner::Ending::NoFort9
            << u"moltra left no fort.9"_s
            << u"The MOLTRA step ended without leaving fort.9 in the working directory, so the EVALIX step cannot run."_s;
    QTest::newRow("MOLTRA executable missing")
            << false << false << QByteArray() << QStringList{} << -1
            << JobRunner::Ending::FailedToStart << u"moltra"_s
            << u"Unable to start the .d12 job: %1/../package/moltra is not an executable file"_s;
}

void TestJobRunner::steps()
{
    QFETCH(bool, flagD3);
    QFETCH(bool, fort9AtStart);
    QFETCH(QByteArray, moltra);
    QFETCH(QStringList, outputs);
    QFETCH(int, errorSize);
    QFETCH(JobRunner::Ending, ending);
    QFETCH(QString, reason);
    QFETCH(QString, message);
    if (!moltra.isEmpty())
        standIn(u"moltra"_s, moltra);
    standIn(u"evalix"_s, "echo EVALIX output\n");
    JobPlan job = plan(flagD3 ? u"mgo.scf.d3"_s : u"mgo.scf.d12"_s, flagD3);
    job.command.program = job.workDir + u"/../package/"_s + job.command.name;
    writeFile(job.workDir + u"/mgo.d12"_s, "companion deck\n");
    if (fort9AtStart)
        writeFile(job.workDir + u"/fort.9"_s, "wf\n");
    const QByteArray earlier = "left over from an earlier run, longer than now\n";
    writeFile(job.workDir + (flagD3 ? u"/mgo.outp.out"_s : u"/mgo.out"_s), earlier);

    QSignalSpy started(m_runner.get(), &JobRunner::stepStarted);
    QSignalSpy ended(m_runner.get(), &JobRunner::jobEnded);
    m_runner->begin(job);
    QVERIFY(m_runner->isRunning());
    m_runner->compute();
    QVERIFY(waitEnded(ended));
    QVERIFY(!m_runner->isRunning());
    const auto outcome = ended.first().at(0).value<JobRunner::Outcome>();
    QCOMPARE(outcome.ending, ending);
    QCOMPARE(outcome.reason, reason);
    const QString expected = message.contains(u"%1"_s) ? message.arg(job.workDir) : message;
    QVERIFY2(outcome.message.startsWith(expected), qPrintable(outcome.message));
    QVERIFY(!outcome.message.contains(u"bad 10\n"_s) && !outcome.message.endsWith(u'\n'));

    QStringList startedOutputs;
    for (const QList<QVariant> &step : started)
        startedOutputs << QFileInfo(step.at(1).toString()).fileName();
    QCOMPARE(startedOutputs, outputs.isEmpty() ? QStringList{ u"mgo.out"_s } : outputs);
    for (const QString &name : outputs) {
        QCOMPARE(readFile(job.workDir + u'/' + name),
                 name.endsWith(u".outp"_s) ? "EVALIX output\n" : "MOLTRA output\n");
    }
    if (outputs.isEmpty())
        QCOMPARE(readFile(job.workDir + u"/mgo.out"_s), earlier);
    const QString errorFile = job.workDir + u'/' + startedOutputs.first() + u".err"_s;
    QCOMPARE(QFileInfo(errorFile).exists() ? QFileInfo(errorFile).size() : -1, errorSize);
    QVERIFY(!QFile::exists(job.workDir + u"/mgo.outp.err"_s));
    const QByteArray call = "0 " + QFile::encodeName(job.workDir) + '\n';
    if (outputs.contains(u"mgo.out"_s) || outputs.contains(u"mgo.outp.out"_s)) {
        QCOMPARE(readFile(m_dir + u"/moltra.runs"_s), QByteArray("run\n"));
        QCOMPARE(readFile(m_dir + u"/moltra.call"_s), call);
        QCOMPARE(readFile(m_dir + u"/moltra.stdin"_s),
                 flagD3 ? QByteArray("companion deck\n") : readFile(job.deck));
    }
    QCOMPARE(QFile::exists(m_dir + u"/evalix.runs"_s), outputs.endsWith(u"mgo.outp"_s));
    if (outputs.endsWith(u"mgo.outp"_s)) {
        QCOMPARE(readFile(m_dir + u"/evalix.call"_s), call);
        QCOMPARE(readFile(m_dir + u"/evalix.stdin"_s), readFile(job.deck));
    }
    QTRY_VERIFY(m_runner->findChildren<QProcess *>().isEmpty());
}

void TestJobRunner::stopReachesTheWholeProcessGroup()
{
    // The leader and one helper end at the termination request; the other helper ignores it.
    standIn(u"moltra"_s,
            "sleep 60 &\necho $! > \"$rec.helper\"\n"
            "sh -c 'trap \"\" TERM; echo $$ > \"$0\"; exec sleep 60' \"$rec.child\" &\nwait\n");
    QSignalSpy ended(m_runner.get(), &JobRunner::jobEnded);
    m_runner->begin(plan(u"mgo.d12"_s, false));
    m_runner->compute();
    const qint64 leader = waitForPid(m_dir + u"/moltra.pid"_s);
    const qint64 child = waitForPid(m_dir + u"/moltra.child"_s);
    const qint64 helper = waitForPid(m_dir + u"/moltra.helper"_s);
    QVERIFY(processAlive(leader) && processAlive(child) && processAlive(helper));
    m_runner->stop();
    QCOMPARE(ended.size(), 1);
    QCOMPARE(ended.first().at(0).value<JobRunner::Outcome>().ending, JobRunner::Ending::Stopped);
    QTRY_VERIFY(!processAlive(leader) && !processAlive(helper));
    QVERIFY(processAlive(child));
    QTRY_VERIFY_WITH_TIMEOUT(!processAlive(child), JobRunner::StopGraceMs + 2000);
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
    QCOMPARE(ended.at(1).at(0).value<JobRunner::Outcome>().ending, JobRunner::Ending::Finished);
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
