// SPDX-License-Identifier: GPL-3.0-or-later
// The launcher without a window: what it says in its signals, and what the user's answers do.
#include "job/jobmanager.h"
#include "launcher/launcher.h"
#include "testsupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSettings>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// Answers as the test says, and counts the questions.
struct Answers : LauncherQuestions
{
    StopAnswer askStop(bool closing) override
    {
        asked << (closing ? u"close"_s : u"stop"_s);
        return stop;
    }
    bool askBatch(const QString &question) override
    {
        asked << question;
        return true;
    }
    bool releaseFolder() override { return true; }

    StopAnswer stop = StopAnswer::Stay;
    QStringList asked;
};

QString runText(const RunShown &run)
{
    if (run.state == RunShown::State::Idle)
        return u"run: idle"_s;
    return run.state == RunShown::State::Stopping ? u"run: stopping"_s
                                                  : (run.here ? u"run: here"_s : u"run: away"_s);
}

}

class TestLauncher : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup() { m_launcher.reset(); }
    void followsItsJobBySignals();
    void answers_data();
    void answers();

private:
    // A launcher over the round's list of jobs, whose signals are written into m_said.
    void makeLauncher();
    QString deck(const QString &name) { return writeFile(m_dir + u'/' + name, name.toUtf8()); }
    const Job *job(qint64 id) const { return m_launcher->jobs()->find(id); }

    IsolatedEnvironment m_env;
    QString m_dir;
    std::unique_ptr<Launcher> m_launcher;
    Answers m_answers;
    QStringList m_said;
};

void TestLauncher::init()
{
    static int round = 0;
    m_dir = m_env.path() + u"/round %1"_s.arg(++round);
    QDir().mkpath(m_dir);
    QSettings settings(u"quillmoor"_s, u"MOLTRA Farbo Starter"_s);
    settings.clear();
    settings.setValue(u"moltraDir"_s, m_dir + u"/package"_s);
    settings.setValue(u"localCores"_s, 1);
    m_answers = Answers();
    m_said.clear();
    makeLauncher();
}

void TestLauncher::makeLauncher()
{
    m_launcher.reset();
    m_launcher = std::make_unique<Launcher>(m_dir + u"/data"_s);
    m_launcher->setQuestions(&m_answers);
    Launcher *l = m_launcher.get();
    connect(l, &Launcher::statusChanged, l, [this](const QString &text, const QDateTime &since) {
        m_said << u"status: "_s + text + (since.isValid() ? u", counting"_s : QString());
    });
    connect(l, &Launcher::runShown, l, [this](const RunShown &run) { m_said << runText(run); });
    connect(l, &Launcher::outputFollowed, l,
            [this](const QString &path) { m_said << u"follow "_s + QFileInfo(path).fileName(); });
    connect(l, &Launcher::outputCompleted, l,
            [this](const QString &path) { m_said << u"complete "_s + QFileInfo(path).fileName(); });
    connect(l, &Launcher::deckLoaded, l, [this](const DeckShown &deck) {
        m_said << u"deck %1: %2 of %3"_s.arg(QFileInfo(deck.deck).fileName(), deck.choice.program,
                                             deck.programs.join(u'/'));
    });
    connect(l, &Launcher::failed, l,
            [this](const QString &text) { m_said << u"failed: "_s + text; });
}

void TestLauncher::followsItsJobBySignals()
{
    // Each run waits for a go-ahead file, and takes it.
    writeStandIn(m_dir, u"moltra"_s,
                 "go=\"$(dirname \"$0\")/../go\"\nwhile ! rm \"$go\" 2>/dev/null; do sleep 0.05; "
                 "done\n");
    const RunChoice choice{ u"title"_s, u"moltra"_s, 1, Jobs::thisComputer() };
    m_launcher->open(deck(u"a.d12"_s));
    m_launcher->startOrStop(choice);
    const qint64 first = m_launcher->current();
    QTRY_COMPARE(job(first)->step, 1);
    m_said.clear();
    m_launcher->open(deck(u"b.d12"_s));
    m_launcher->startOrStop(choice);
    const qint64 second = m_launcher->current();
    QCOMPARE(job(second)->state, Jobs::State::Queued);
    QCoreApplication::processEvents();
    // No clock: the first's end, the next job's start and its end are said as they come.
    writeFile(m_dir + u"/go"_s, "");
    QTRY_COMPARE(job(second)->step, 1);
    writeFile(m_dir + u"/go"_s, "");
    QTRY_VERIFY(!Jobs::isActive(job(second)->state));
    // What the job used is said after its end, in parentheses.
    m_said.replaceInStrings(QRegularExpression(u" \\(CPU .*\\)$"_s), QString())
            .replaceInStrings(QRegularExpression(u"\\d+:\\d\\d"_s), u"m:ss"_s);
    QCOMPARE(m_said,
             (QStringList{ // the first job is let go of; the next deck comes in
                           u"complete a.out"_s, u"run: idle"_s, u"status: "_s,
                           u"deck b.d12: moltra of moltra/Pmoltra/MPPmoltra"_s, u"run: idle"_s,
                           // and waits for the core
                           u"run: away"_s, u"follow b.out"_s,
                           u"status: Queued on this computer, counting"_s,
                           u"status: The job on this computer goes on; the Jobs tab lists it"_s,
                           u"status: a.d12 on this computer: Finished in m:ss"_s,
                           u"status: Queued on this computer, counting"_s,
                           // it runs
                           u"run: here"_s, u"status: Running, counting"_s,
                           u"status: Step 1 of 1: moltra, counting"_s,
                           // and ends
                           u"complete b.out"_s, u"run: idle"_s, u"status: Finished in m:ss"_s }));
}

void TestLauncher::answers_data()
{
    using Answer = LauncherQuestions::StopAnswer;
    QTest::addColumn<bool>("closing"); // else Stop is clicked
    QTest::addColumn<Answer>("answer");
    QTest::addColumn<Launcher::Closing>("closes");
    QTest::addColumn<Jobs::State>("state"); // as the next launcher finds the job at its end
    QTest::newRow("Stop, then Cancel")
            << false << Answer::Stay << Launcher::Closing::No << Jobs::State::Finished;
    QTest::newRow("Stop, then Yes")
            << false << Answer::Stop << Launcher::Closing::No << Jobs::State::Stopped;
    QTest::newRow("close, then Cancel")
            << true << Answer::Stay << Launcher::Closing::No << Jobs::State::Finished;
    QTest::newRow("close, then Leave running")
            << true << Answer::Leave << Launcher::Closing::Now << Jobs::State::Finished;
    QTest::newRow("close, then Yes: once it has ended")
            << true << Answer::Stop << Launcher::Closing::Later << Jobs::State::Stopped;
}

void TestLauncher::answers()
{
    QFETCH(bool, closing);
    QFETCH(LauncherQuestions::StopAnswer, answer);
    QFETCH(Launcher::Closing, closes);
    QFETCH(Jobs::State, state);
    // Runs for a second unless stopped.
    writeStandIn(m_dir, u"moltra"_s, "sleep 1 & wait\n");
    m_launcher->open(deck(u"a.d12"_s));
    m_launcher->startOrStop({ u"a"_s, u"moltra"_s, 1, Jobs::thisComputer() });
    const qint64 id = m_launcher->current();
    waitForPid(m_dir + u"/moltra.pid"_s);
    m_answers.stop = answer;
    int ready = 0;
    connect(m_launcher.get(), &Launcher::closeReady, this, [&ready] { ++ready; });
    if (closing)
        QCOMPARE(m_launcher->close(), closes);
    else
        m_launcher->startOrStop({});
    QCOMPARE(m_answers.asked, QStringList{ closing ? u"close"_s : u"stop"_s });
    if (closes != Launcher::Closing::Now)
        QTRY_VERIFY_WITH_TIMEOUT(!Jobs::isActive(job(id)->state), 10000);
    QCOMPARE(ready, closes == Launcher::Closing::Later ? 1 : 0);
    // The job as the next launcher sees it, after watching what was left running.
    makeLauncher();
    QTRY_VERIFY_WITH_TIMEOUT(!Jobs::isActive(job(id)->state), 10000);
    QCOMPARE(job(id)->state, state);
}

QTEST_GUILESS_MAIN(TestLauncher)
#include "tst_launcher.moc"
