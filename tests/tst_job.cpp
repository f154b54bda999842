// SPDX-License-Identifier: GPL-3.0-or-later
#include "job/jobplanner.h"
#include "job/jobrunner.h"
#include "job/outputfollower.h"
#include "job/shellwords.h"
#include "settings/settingskeys.h"
#include "testsupport.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QtTest>

using namespace Qt::StringLiterals;

class TestJob : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void followerShowsWhatAWholeFileReadShows_data();
    void followerShowsWhatAWholeFileReadShows();
    void steps_data();
    void steps();
    void lateFailureBelongsToItsJob();
    void stopAndDestructionEndTheWholeGroup_data();
    void stopAndDestructionEndTheWholeGroup();
    void plans_data();
    void plans();
    void shellWords_data();
    void shellWords();

private:
    // A stand-in program that logs each run's argument count, folder and standard input.
    void standIn(const QString &name, const QByteArray &body);
    PlannedJob plan(const QString &program, const QString &deck, int cores = 1);
    void begin(const JobPlan &plan);

    IsolatedEnvironment m_env;
    QString m_dir;
    std::unique_ptr<JobRunner> m_runner;
};

void TestJob::init()
{
    static int round = 0;
    m_dir = m_env.path() + u"/round %1"_s.arg(++round);
    QSettings settings = launcherSettings();
    settings.setValue(u"moltraDir"_s, m_dir + u"/package"_s);
    SettingsKeys::seedExecutableNames(settings);
    m_runner = std::make_unique<JobRunner>();
}

void TestJob::standIn(const QString &name, const QByteArray &body)
{
    writeStandIn(m_dir, name,
                 "rec='" + QFile::encodeName(m_dir + u'/' + name)
                         + "'\n{ echo $# $(pwd); cat; } >> \"$rec.log\"\n" + body);
}

PlannedJob TestJob::plan(const QString &program, const QString &deck, int cores)
{
    const QString path = writeFile(m_dir + u"/work/"_s + deck, "deck " + deck.toUtf8() + '\n');
    return JobPlanner::plan(SettingsKeys::packageConfig(launcherSettings()), program, path,
                            m_dir + u"/work"_s, cores);
}

void TestJob::begin(const JobPlan &plan)
{
    m_runner->begin(plan);
    m_runner->compute();
}

void TestJob::followerShowsWhatAWholeFileReadShows_data()
{
    // Each piece is appended; a piece starting with "=" replaces the file, one with "~"
    // rewrites it in place, one with ">" goes to another file.
    QTest::addColumn<QList<QByteArray>>("pieces");
    QTest::newRow("UTF-8 split") << QList<QByteArray>{ "caf\xc3", "\xa9\n\xe2", "\x82", "\xac" };
    QTest::newRow("CR LF split") << QList<QByteArray>{ "line\r", "\nnext\r\n", "a\rb" };
    QTest::newRow("rewritten") << QList<QByteArray>{ "first run\n", "~new\n", "~longer run\n" };
    QTest::newRow("replaced") << QList<QByteArray>{ "first\n", "=a new file, longer\n" };
    QTest::newRow("other file") << QList<QByteArray>{ "step 1\n", ">step 1\nstep 2\n" };
    // Bytes drawn from a small alphabet rich in sequence starts, continuations and CRs.
    const QByteArray alphabet("a\n\r\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80\xff\x80 \0", 16);
    QRandomGenerator random(20261206);
    for (int row = 0; row < 300; ++row) {
        QList<QByteArray> pieces(12);
        for (QByteArray &piece : pieces) {
            for (int i = random.bounded(0, 9); i > 0; --i)
                piece += alphabet.at(random.bounded(alphabet.size()));
        }
        QTest::addRow("random %d", row) << pieces;
    }
}

void TestJob::followerShowsWhatAWholeFileReadShows()
{
    QFETCH(QList<QByteArray>, pieces);
    QString path = writeFile(m_dir + u"/mgo.out"_s, QByteArray());
    OutputFollower follower;
    QString shown;
    for (const QByteArray &piece : pieces) {
        if (piece.startsWith('~')) {
            writeFile(path, piece.mid(1));
        } else if (piece.startsWith('=')) {
            QFile::remove(path);
            QFile::rename(writeFile(path + u".new"_s, piece.mid(1)), path);
        } else if (piece.startsWith('>')) {
            path = writeFile(path + u"p"_s, piece.mid(1));
        } else {
            QFile file(path);
            QVERIFY(file.open(QIODevice::Append) && file.write(piece) == piece.size());
        }
        const OutputFollower::Update update = follower.poll(path);
        if (update.change == OutputFollower::Change::Replace)
            shown = update.text;
        else if (update.change == OutputFollower::Change::Append)
            shown = shown.left(shown.size() - update.dropTrailing) + update.text;
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
        QCOMPARE(shown, QString::fromUtf8(file.readAll()));
    }
}

void TestJob::steps_data()
{
    QTest::addColumn<QString>("deck");
    QTest::addColumn<QByteArray>("moltra"); // empty: no such file; "-x": not executable
    QTest::addColumn<QString>("outputs"); // of the steps that ran, and the error output's size
    QTest::addColumn<QString>("outcome"); // ending, reason and the message's start
    const QByteArray ok = "echo MOLTRA output\necho wf > fort.9\n";
    QTest::newRow("MOLTRA job") << u"mgo.d12"_s << ok << u"mgo.out, -1"_s << u"Finished, , "_s;
    QTest::newRow("EVALIX job runs MOLTRA first")
            << u"mgo.d3"_s << ok << u"mgo.outp.out mgo.outp, -1"_s << u"Finished, , "_s;
    QTest::newRow("exit code 3")
            << u"mgo.d12"_s << QByteArray("echo MOLTRA output\nseq -f 'bad %g' 30 >&2\nexit 3\n")
            << u"mgo.out, 201"_s
            << u"Failed, moltra exited with code 3, moltra (step 1 of 1) exited with code 3.\n\nThe last lines of %1/work/mgo.out.err:\n\nbad 11\n"_s;
    QTest::newRow("MOLTRA step leaves no fort.9")
            << u"mgo.d3"_s << QByteArray("echo MOLTRA output\n") << u"mgo.outp.out, -1"_s
            << u"NoFort9, moltra left no fort.9, The MOLTRA step ended without leaving fort.9"_s;
    QTest::newRow("killed by a signal")
            << u"mgo.d12"_s << QByteArray("echo MOLTRA output\nkill -SEGV $$\n") << u"mgo.out, -1"_s
            << u"Failed, moltra was killed by SIGSEGV, moltra (step 1 of 1) was killed by SIGSEGV."_s;
    QTest::newRow("failing MOLTRA step ends the EVALIX job")
            << u"mgo.d3"_s << ok + "exit 1\n"
            << u"mgo.outp.out, -1"_s
            << u"Failed, moltra exited with code 1, moltra (step 1 of 2) exited with code 1."_s;
    QTest::newRow("MOLTRA executable missing")
            << u"mgo.d12"_s << QByteArray() << u", 11"_s
            << u"FailedToStart, moltra, Unable to start the .d12 job: %1/package/moltra is not an executable file"_s;
    QTest::newRow("MOLTRA not executable")
            << u"mgo.d12"_s << QByteArray("-x") << u", 11"_s
            << u"FailedToStart, moltra, Unable to start the .d12 job: %1/package/moltra is not an executable file"_s;
    // Its start fails only once the output is open: the earlier output is back all the same.
    QTest::newRow("MOLTRA interpreter missing")
            << u"mgo.d12"_s << QByteArray("#!/nonexistent/sh\n") << u", 11"_s
            << u"FailedToStart, moltra, Unable to start the .d12 job: "_s;
}

void TestJob::steps()
{
    QFETCH(QString, deck);
    QFETCH(QByteArray, moltra);
    QFETCH(QString, outputs);
    QFETCH(QString, outcome);
    if (moltra.startsWith("#!"))
        writeScript(m_dir + u"/package/moltra"_s, moltra);
    else if (moltra == "-x")
        writeFile(m_dir + u"/package/moltra"_s, "#!/bin/sh\n");
    else if (!moltra.isEmpty())
        standIn(u"moltra"_s, moltra);
    standIn(u"evalix"_s, "echo EVALIX output\n");
    const QString work = m_dir + u"/work"_s;
    JobPlan job = plan(deck.endsWith(u".d3"_s) ? u"evalix"_s : u"moltra"_s, deck).plan;
    writeFile(work + u"/mgo.d12"_s, "companion deck\n");
    const QByteArray earlier = "left over from an earlier run, longer than now\n";
    const QString first = job.output + (job.stepCount == 2 ? u".out"_s : u""_s);
    writeFile(first, earlier);
    writeFile(first + u".err"_s, "its errors\n");
    QSignalSpy ended(m_runner.get(), &JobRunner::jobEnded);
    begin(job);
    QVERIFY(!ended.isEmpty() || ended.wait(15000));
    const auto given = ended.first().first().value<JobRunner::Outcome>();
    const QString told = u"%1, %2, %3"_s.arg(
            QLatin1String(QMetaEnum::fromType<JobRunner::Ending>().valueToKey(int(given.ending))),
            given.reason, given.message);
    QVERIFY2(told.startsWith(outcome.replace(u"%1"_s, m_dir)), qPrintable(told));
    // A step that ran keeps the earlier output, with its error output, as backups; one that
    // did not start leaves them in place.
    const bool started = given.ending != JobRunner::Ending::FailedToStart;
    QCOMPARE(readFile(first + u"~"_s) + readFile(first + u".err~"_s),
             started ? earlier + "its errors\n" : QByteArray());
    QCOMPARE(given.message.contains(u"The previous output is kept as "_s + first + u"~."_s),
             started && given.ending != JobRunner::Ending::Finished);
    // At most the last 20 lines of the error output, and all of it in the details.
    QVERIFY(!given.message.contains(u"bad 10\n"_s));
    QCOMPARE(given.details.count(u"bad"_s), given.message.contains(u"bad 30"_s) ? 30 : 0);
    const QStringList ran = outputs.section(u',', 0, 0).split(u' ', Qt::SkipEmptyParts);
    for (const QString &name : ran) {
        QCOMPARE(readFile(work + u'/' + name),
                 name.endsWith(u".outp"_s) ? "EVALIX output\n" : "MOLTRA output\n");
    }
    if (!started)
        QCOMPARE(readFile(first) + readFile(first + u".err"_s), earlier + "its errors\n");
    const QFileInfo errors(work + u'/' + ran.value(0, u"mgo.out"_s) + u".err"_s);
    QCOMPARE(errors.exists() ? errors.size() : -1, outputs.section(u", "_s, 1).toLongLong());
    const QByteArray call = "0 " + QFile::encodeName(work) + '\n';
    QCOMPARE(readFile(m_dir + u"/moltra.log"_s),
             ran.isEmpty() ? "" : call + readFile(work + u"/mgo.d12"_s));
    QCOMPARE(readFile(m_dir + u"/evalix.log"_s),
             ran.endsWith(u"mgo.outp"_s) ? call + readFile(job.deck) : "");
    QTRY_VERIFY(m_runner->findChildren<QProcess *>().isEmpty());
}

void TestJob::lateFailureBelongsToItsJob()
{
    standIn(u"moltra"_s, "echo MOLTRA output\n");
    const JobPlan good = plan(u"moltra"_s, u"mgo.d12"_s).plan;
    JobPlan gone = good;
    gone.deck += u".gone"_s;
    // The failed start is told once start has returned; the job is stopped and another begun
    // before that.
    QSignalSpy ended(m_runner.get(), &JobRunner::jobEnded);
    begin(gone);
    m_runner->stop();
    begin(good);
    QVERIFY(ended.wait(5000) && (ended.size() > 1 || ended.wait(5000)));
    QCOMPARE(ended.at(0).first().value<JobRunner::Outcome>().ending, JobRunner::Ending::Stopped);
    QCOMPARE(ended.at(1).first().value<JobRunner::Outcome>().ending, JobRunner::Ending::Finished);
}

void TestJob::stopAndDestructionEndTheWholeGroup_data()
{
    QTest::addColumn<bool>("destroy");
    QTest::newRow("stop") << false;
    QTest::newRow("destruction") << true;
}

void TestJob::stopAndDestructionEndTheWholeGroup()
{
    QFETCH(bool, destroy);
    // The leader and one helper end at the termination request; the other helper ignores it.
    standIn(u"moltra"_s,
            "sleep 60 &\necho $! > \"$rec.helper\"\n"
            "sh -c 'trap \"\" TERM; echo $$ > \"$0\"; exec sleep 60' \"$rec.child\" &\nwait\n");
    QSignalSpy ended(m_runner.get(), &JobRunner::jobEnded);
    begin(plan(u"moltra"_s, u"mgo.d12"_s).plan);
    QList<qint64> group;
    for (const char *name : { "pid", "helper", "child" })
        group << waitForPid(m_dir + u"/moltra."_s + QLatin1String(name));
    QVERIFY(processAlive(group[0]) && processAlive(group[1]) && processAlive(group[2]));
    if (destroy) {
        m_runner.reset();
        QTRY_VERIFY(!processAlive(group[0]) && !processAlive(group[1]) && !processAlive(group[2]));
        return;
    }
    // Stopping lasts while a process of the group lives, and no other job starts meanwhile.
    bool aliveAtEnd = true;
    connect(m_runner.get(), &JobRunner::jobEnded, this,
            [&] { aliveAtEnd = processAlive(group[2]); });
    m_runner->stop();
    QVERIFY(m_runner->isStopping() && !m_runner->begin(plan(u"moltra"_s, u"mgo.d12"_s).plan));
    QTRY_VERIFY(!processAlive(group[0]) && !processAlive(group[1]));
    QVERIFY(ended.isEmpty() && processAlive(group[2]));
    QVERIFY(ended.wait(JobRunner::StopGraceMs + 2000));
    QCOMPARE(ended.first().first().value<JobRunner::Outcome>().ending, JobRunner::Ending::Stopped);
    QVERIFY(!aliveAtEnd);
}

void TestJob::plans_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("deck");
    QTest::addColumn<int>("cores");
    // The note or refusal, the step's command and the MOLTRA step's.
    QTest::addColumn<QString>("expected");
    const QString mpirun = u"mpirun,-n,2,--bind-to,core x,P/"_s;
    QTest::newRow("Pevalix runs Pmoltra first")
            << u"Pevalix"_s << u"mgo.d3"_s << 2
            << u" | "_s + mpirun + u"Pevalix | "_s + mpirun + u"Pmoltra"_s;
    QTest::newRow("MPPmoltra not installed")
            << u"MPPmoltra"_s << u"mgo.d12"_s << 2
            << u"MPPmoltra is not installed: running moltra on one core | P/moltra"_s;
    QTest::newRow("EVALIX on a MOLTRA deck")
            << u"evalix"_s << u"mgo.d12"_s << 1 << u"The program evalix does not fit"_s;
    QTest::newRow("no cores") << u"Pmoltra"_s << u"mgo.d12"_s << 0
                              << u"Pmoltra needs at least one core. Choose the number of cores."_s;
}

void TestJob::plans()
{
    QFETCH(QString, program);
    QFETCH(QString, deck);
    QFETCH(int, cores);
    QFETCH(QString, expected);
    for (const QString &installed : { u"moltra"_s, u"evalix"_s, u"Pmoltra"_s, u"Pevalix"_s })
        standIn(installed, "exit 0\n");
    launcherSettings().setValue(u"mpiArguments"_s, u"--bind-to \"core x\""_s);
    const PlannedJob job = plan(program, deck, cores);
    QStringList given{ job.note + job.refusal };
    for (const StepCommand &command : { job.plan.command, job.plan.moltraCommand })
        given << (QStringList{ command.program } + command.arguments).join(u',');
    const QString told = given.join(u" | "_s).replace(m_dir + u"/package/"_s, u"P/"_s);
    QVERIFY2(told.startsWith(expected), qPrintable(told));
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
