#include "mainwindow/mainwindow.h"
#include "modalanswerer.h"
#include "testsupport.h"

#include <QComboBox>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProcess>
#include <QSettings>
#include <QSpinBox>
#include <QTabWidget>
#include <QToolButton>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {
constexpr int JobTimeout = 15000;
}

class TestJobRunner : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void moltraJob_data();
    void moltraJob();
    void evalixSequences_data();
    void evalixSequences();
    void paneFollowsEachStep();
    void failedStart_data();
    void failedStart();
    void nothingToStart();
    void programNotFittingTheDeckIsRefused_data();
    void programNotFittingTheDeckIsRefused();
    void stopAnsweredCancelThenYes();
    void stopDuringMoltraStepOfEvalixJob();
    void stopReachesTheWrapperChild();
    void stopConfirmedWhileStarting();
    void closeWhileRunning_data();
    void closeWhileRunning();
    void closeWhileIdleAsksNothing();
    void secondJobAfterFirst();
    void portalJobEnablesUpload();

private:
    template <typename T> T *child(const char *name)
    {
        return m_window->findChild<T *>(QLatin1String(name));
    }
    QToolButton *startButton() { return child<QToolButton>("toolButtonStart"); }
    void standIn(const QString &name, const QByteArray &body);
    QString record(const QString &name, const QString &what) const;
    int runs(const QString &name) const;
    QString deck(const QString &name, const QByteArray &content = "deck line\nEND\n");
    bool waitIdle(int timeout = JobTimeout);
    qint64 recordedPid(const QString &name, const QString &what = u"pid"_s) const;

    IsolatedEnvironment m_env;
    QString m_package;
    QString m_work;
    QString m_records;
    std::unique_ptr<MainWindow> m_window;
    std::unique_ptr<ModalAnswerer> m_answerer;
    int m_round = 0;
};

void TestJobRunner::init()
{
    m_env.clearSettings();
    ++m_round;
    const QString root = m_env.path() + u"/round%1"_s.arg(m_round);
    m_package = root + u"/package"_s;
    m_work = root + u"/jobs dir"_s;
    m_records = root + u"/records"_s;
    for (const QString &dir : { m_package, m_work, m_records })
        QVERIFY(QDir().mkpath(dir));
    storeSetting(u"moltraDir"_s, m_package);
    m_window = std::make_unique<MainWindow>();
    m_answerer = std::make_unique<ModalAnswerer>();
}

void TestJobRunner::cleanup()
{
    m_window.reset();
    QCOMPARE(m_answerer->unexpected, 0);
    m_answerer.reset();
    QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
}

void TestJobRunner::standIn(const QString &name, const QByteArray &body)
{
    const QByteArray rec = QFile::encodeName(m_records + u'/' + name);
    writeScript(m_package + u'/' + name,
                "rec='" + rec
                        + "'\n"
                          "echo run >> \"$rec.runs\"\n"
                          "echo $$ > \"$rec.pid\"\n"
                          "echo $# > \"$rec.args\"\n"
                          "pwd > \"$rec.cwd\"\n"
                        + body);
}

QString TestJobRunner::record(const QString &name, const QString &what) const
{
    return m_records + u'/' + name + u'.' + what;
}

int TestJobRunner::runs(const QString &name) const
{
    return int(readFile(record(name, u"runs"_s)).count("run"));
}

qint64 TestJobRunner::recordedPid(const QString &name, const QString &what) const
{
    return readFile(record(name, what)).trimmed().toLongLong();
}

QString TestJobRunner::deck(const QString &name, const QByteArray &content)
{
    const QString path = writeFile(m_work + u'/' + name, content);
    m_answerer->chooseFile(path);
    child<QToolButton>("toolButtonChoose")->click();
    return path;
}

bool TestJobRunner::waitIdle(int timeout)
{
    QDeadlineTimer deadline(timeout);
    while (startButton()->text() != u"Start"_s && !deadline.hasExpired())
        QTest::qWait(20);
    return startButton()->text() == u"Start"_s;
}

void TestJobRunner::moltraJob_data()
{
    QTest::addColumn<QString>("program");
    QTest::newRow("moltra") << u"moltra"_s;
    QTest::newRow("Pmoltra") << u"Pmoltra"_s;
    QTest::newRow("MPPmoltra") << u"MPPmoltra"_s;
}

void TestJobRunner::moltraJob()
{
    QFETCH(QString, program);
    standIn(u"moltra"_s,
            "cat mgo.out > \"$rec.seen\"\ncat > \"$rec.stdin\"\necho \"MOLTRA says hello\"\necho "
            "oops >&2\nexit 3\n");
    const QString input = deck(u"mgo.scf.d12"_s, "MgO\nCRYSTAL\nEND\n");
    writeFile(m_work + u"/mgo.out"_s, "output of an earlier run\n");
    child<QComboBox>("comboBoxProgram")->setCurrentText(program);
    child<QSpinBox>("spinBoxProcs")->setValue(8);

    startButton()->click();
    QCOMPARE(startButton()->text(), u"Stop"_s);
    QVERIFY(!child<QToolButton>("toolButtonChoose")->isEnabled());
    QVERIFY(!child<QLabel>("labelLoader")->isHidden());
    QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::BusyCursor);
    QCOMPARE(child<QTabWidget>("tabWidget")->count(), 2);
    QCOMPARE(child<QTabWidget>("tabWidget")->currentIndex(), 1);
    QCOMPARE(child<QTabWidget>("tabWidget")->tabText(1), u"Output"_s);
    QVERIFY(waitIdle());

    QCOMPARE(runs(u"moltra"_s), 1);
    QCOMPARE(readFile(record(u"moltra"_s, u"args"_s)), QByteArray("0\n"));
    QCOMPARE(QString::fromLocal8Bit(readFile(record(u"moltra"_s, u"cwd"_s)).trimmed()), m_work);
    QCOMPARE(readFile(record(u"moltra"_s, u"stdin"_s)), readFile(input));
    QCOMPARE(readFile(record(u"moltra"_s, u"seen"_s)), QByteArray());
    QCOMPARE(readFile(m_work + u"/mgo.out"_s), QByteArray("MOLTRA says hello\n"));
    QCOMPARE(child<QPlainTextEdit>("plainTextEditOutput")->toPlainText(), u"MOLTRA says hello\n"_s);
    QVERIFY(child<QToolButton>("toolButtonChoose")->isEnabled());
    QVERIFY(child<QLabel>("labelLoader")->isHidden());
    QVERIFY(!child<QToolButton>("toolButtonUpload")->isEnabled());
    QVERIFY(m_answerer->shown.isEmpty());
}

void TestJobRunner::evalixSequences_data()
{
    QTest::addColumn<bool>("fort9AtStart");
    QTest::addColumn<QByteArray>("moltraBody");
    QTest::addColumn<int>("moltraRuns");
    QTest::addColumn<int>("evalixRuns");
    QTest::addColumn<QString>("message");
    QTest::newRow("fort.9 absent")
            << false << QByteArray("echo wavefunction > fort.9\necho step one\n") << 1 << 1
            << QString();
    QTest::newRow("fort.9 present") << true << QByteArray("echo step one\n") << 0 << 1 << QString();
    QTest::newRow("step 1 fails but leaves fort.9")
            << false << QByteArray("echo wf > fort.9\nexit 1\n") << 1 << 1 << QString();
    QTest::newRow("step 1 leaves no fort.9")
            << false << QByteArray("echo step one\n") << 1 << 0
            << u"The MOLTRA step ended without leaving fort.9 in the working directory, so the EVALIX step cannot run."_s;
}

void TestJobRunner::evalixSequences()
{
    QFETCH(bool, fort9AtStart);
    QFETCH(QByteArray, moltraBody);
    QFETCH(int, moltraRuns);
    QFETCH(int, evalixRuns);
    QFETCH(QString, message);
    standIn(u"moltra"_s, "cat > \"$rec.stdin\"\n" + moltraBody);
    standIn(u"evalix"_s, "cat > \"$rec.stdin\"\necho step two\n");
    const QByteArray d12("MgO d12\nEND\n");
    writeFile(m_work + u"/mgo.d12"_s, d12);
    if (fort9AtStart)
        writeFile(m_work + u"/fort.9"_s, "wf\n");
    const QString input = deck(u"mgo.scf.d3"_s, "BAND\nEND\n");
    if (!message.isEmpty())
        m_answerer->answer(QMessageBox::Ok);

    startButton()->click();
    QVERIFY(waitIdle());
    QTest::qWait(300);

    QCOMPARE(runs(u"moltra"_s), moltraRuns);
    QCOMPARE(runs(u"evalix"_s), evalixRuns);
    if (moltraRuns) {
        QCOMPARE(readFile(record(u"moltra"_s, u"stdin"_s)), d12);
        QVERIFY(QFile::exists(m_work + u"/mgo.outp.out"_s));
    }
    if (evalixRuns) {
        QCOMPARE(readFile(record(u"evalix"_s, u"stdin"_s)), readFile(input));
        QCOMPARE(readFile(m_work + u"/mgo.outp"_s), QByteArray("step two\n"));
        QCOMPARE(child<QPlainTextEdit>("plainTextEditOutput")->toPlainText(), u"step two\n"_s);
    }
    QCOMPARE(m_answerer->shown.size(), message.isEmpty() ? 0 : 1);
    if (!message.isEmpty()) {
        QCOMPARE(m_answerer->shown.first().icon, QMessageBox::Critical);
        QCOMPARE(m_answerer->shown.first().text, message);
    }
}

void TestJobRunner::paneFollowsEachStep()
{
    standIn(u"moltra"_s, "echo 'STEP ONE'\nsleep 1\necho wf > fort.9\n");
    standIn(u"evalix"_s, "echo 'STEP TWO'\nsleep 1\necho 'STEP TWO done'\n");
    writeFile(m_work + u"/mgo.d12"_s, "MgO\n");
    deck(u"mgo.d3"_s);
    auto *pane = child<QPlainTextEdit>("plainTextEditOutput");
    startButton()->click();
    QTRY_COMPARE_WITH_TIMEOUT(pane->toPlainText(), u"STEP ONE\n"_s, JobTimeout);
    QTRY_COMPARE_WITH_TIMEOUT(pane->toPlainText(), u"STEP TWO\n"_s, JobTimeout);
    QVERIFY(waitIdle());
    QCOMPARE(pane->toPlainText(), u"STEP TWO\nSTEP TWO done\n"_s);
}

void TestJobRunner::failedStart_data()
{
    QTest::addColumn<bool>("evalixStep");
    QTest::addColumn<QString>("message");
    QTest::newRow("d12 step") << false << u"Unable to start the .d12 job: "_s;
    QTest::newRow("d3 step") << true << u"Unable to start the .d3 job: "_s;
}

void TestJobRunner::failedStart()
{
    QFETCH(bool, evalixStep);
    QFETCH(QString, message);
    storeSetting(u"moltraBinary"_s, u"no-such-moltra"_s);
    storeSetting(u"evalixBinary"_s, u"no-such-evalix"_s);
    if (evalixStep) {
        writeFile(m_work + u"/fort.9"_s, "wf\n");
        deck(u"mgo.d3"_s);
    } else {
        deck(u"mgo.d12"_s);
    }
    // Stands for the wait cursor of an upload that is still going on.
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    const auto restoreCursor = qScopeGuard([] { QGuiApplication::restoreOverrideCursor(); });
    m_answerer->answer(QMessageBox::Ok);
    startButton()->click();
    QTRY_COMPARE(m_answerer->shown.size(), 1);
    QCOMPARE(m_answerer->shown.first().icon, QMessageBox::Critical);
    QVERIFY2(m_answerer->shown.first().text.startsWith(message),
             qPrintable(m_answerer->shown.first().text));
    QVERIFY(m_answerer->shown.first().text.size() > message.size());
    QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
    QTest::qWait(500);
    QCOMPARE(startButton()->text(), u"Stop"_s);
    QCOMPARE(m_answerer->shown.size(), 1);
    // No step runs, so closing asks nothing.
    QVERIFY(m_window->close());
    QCOMPARE(m_answerer->shown.size(), 1);

    m_answerer->answer(QMessageBox::Yes);
    startButton()->click();
    QCOMPARE(startButton()->text(), u"Start"_s);
    QVERIFY(QGuiApplication::overrideCursor());
    QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
}

void TestJobRunner::nothingToStart()
{
    standIn(u"moltra"_s, "echo ran\n");
    deck(u"mgo.d12"_s);
    child<QComboBox>("comboBoxProgram")->clear();
    m_answerer->answer(QMessageBox::Ok);
    startButton()->click();
    QCOMPARE(m_answerer->shown.size(), 1);
    QCOMPARE(m_answerer->shown.first().text, u"Nothing to start!"_s);
    QCOMPARE(m_answerer->shown.first().icon, QMessageBox::Critical);
    QCOMPARE(startButton()->text(), u"Start"_s);
    QCOMPARE(child<QTabWidget>("tabWidget")->count(), 1);
    QTest::qWait(200);
    QCOMPARE(runs(u"moltra"_s), 0);
}

void TestJobRunner::programNotFittingTheDeckIsRefused_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<bool>("evalixDeck");
    QTest::newRow("EVALIX program on a deck of another kind") << u"evalix"_s << false;
    QTest::newRow("MOLTRA program on an EVALIX job") << u"moltra"_s << true;
}

void TestJobRunner::programNotFittingTheDeckIsRefused()
{
    QFETCH(QString, program);
    QFETCH(bool, evalixDeck);
    standIn(u"moltra"_s, "echo wf > fort.9\n");
    standIn(u"evalix"_s, "echo ran\n");
    writeFile(m_work + u"/fort.9"_s, "wf\n");
    if (evalixDeck) {
        // A job file may mark an EVALIX job whose deck has no .d3 suffix.
        const QString job
                = writeFile(m_work + u"/job.farbojob"_s,
                            QJsonDocument(QJsonObject{ { u"input_file_name"_s, u"band.inp"_s },
                                                       { u"input_file_content"_s, u"BAND\n"_s },
                                                       { u"flag_d3"_s, true },
                                                       { u"d12_file_name"_s, u"band.d12"_s },
                                                       { u"d12_file_content"_s, u"MgO\n"_s } })
                                    .toJson());
        m_window->importJobFile(job);
    } else {
        deck(u"notes.txt"_s);
    }
    child<QComboBox>("comboBoxProgram")->setCurrentText(program);
    m_answerer->answer(QMessageBox::Ok);
    startButton()->click();
    QCOMPARE(m_answerer->shown.size(), 1);
    QCOMPARE(m_answerer->shown.first().icon, QMessageBox::Critical);
    QVERIFY(m_answerer->shown.first().text.startsWith(u"The program "_s + program
                                                      + u" does not fit"_s));
    QCOMPARE(startButton()->text(), u"Start"_s);
    QTest::qWait(300);
    QCOMPARE(runs(u"moltra"_s) + runs(u"evalix"_s), 0);
}

void TestJobRunner::stopAnsweredCancelThenYes()
{
    standIn(u"moltra"_s, "while true; do echo working; sleep 0.1; done\n");
    deck(u"mgo.d12"_s);
    startButton()->click();
    QTRY_VERIFY(readFile(m_work + u"/mgo.out"_s).startsWith("working\n"));
    const qint64 pid = recordedPid(u"moltra"_s);

    m_answerer->answer(QMessageBox::Cancel);
    startButton()->click();
    QCOMPARE(m_answerer->shown.size(), 1);
    QCOMPARE(m_answerer->shown.first().icon, QMessageBox::Warning);
    QCOMPARE(m_answerer->shown.first().text, u"Do you really want to stop the running job?"_s);
    QCOMPARE(m_answerer->shown.first().buttons, QMessageBox::Yes | QMessageBox::Cancel);
    QCOMPARE(startButton()->text(), u"Stop"_s);
    QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::BusyCursor);
    QVERIFY(processAlive(pid));

    m_answerer->answer(QMessageBox::Yes);
    startButton()->click();
    QCOMPARE(startButton()->text(), u"Start"_s);
    QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
    QTRY_VERIFY(!processAlive(pid));
    QVERIFY(child<QPlainTextEdit>("plainTextEditOutput")->toPlainText().startsWith(u"working\n"_s));
}

void TestJobRunner::stopDuringMoltraStepOfEvalixJob()
{
    // Step 1 ignores the termination request and still ends by itself, leaving fort.9.
    standIn(u"moltra"_s,
            "trap '' TERM\necho started > \"$rec.started\"\nsleep 1\necho wf > fort.9\n");
    standIn(u"evalix"_s, "echo ran\n");
    writeFile(m_work + u"/mgo.d12"_s, "MgO\n");
    deck(u"mgo.d3"_s);
    startButton()->click();
    QTRY_VERIFY(QFile::exists(record(u"moltra"_s, u"started"_s)));
    const qint64 pid = recordedPid(u"moltra"_s);
    m_answerer->answer(QMessageBox::Yes);
    startButton()->click();
    QCOMPARE(startButton()->text(), u"Start"_s);
    QTRY_VERIFY_WITH_TIMEOUT(!processAlive(pid), JobTimeout);
    QVERIFY(QFile::exists(m_work + u"/fort.9"_s));
    QTest::qWait(500);
    QCOMPARE(runs(u"evalix"_s), 0);
    QCOMPARE(startButton()->text(), u"Start"_s);
}

void TestJobRunner::stopReachesTheWrapperChild()
{
    standIn(u"moltra"_s, "sleep 60 &\necho $! > \"$rec.child\"\nwait\n");
    deck(u"mgo.d12"_s);
    startButton()->click();
    QTRY_VERIFY(recordedPid(u"moltra"_s, u"child"_s) > 0);
    const qint64 wrapper = recordedPid(u"moltra"_s);
    const qint64 computation = recordedPid(u"moltra"_s, u"child"_s);
    QVERIFY(processAlive(computation));
    m_answerer->answer(QMessageBox::Yes);
    startButton()->click();
    QTRY_VERIFY(!processAlive(wrapper));
    QTRY_VERIFY(!processAlive(computation));
}

void TestJobRunner::stopConfirmedWhileStarting()
{
    standIn(u"moltra"_s, "echo ran\n");
    deck(u"mgo.d12"_s);
    // This click waits in the event queue and arrives while the start lets events run.
    QTimer::singleShot(0, startButton(), &QToolButton::click);
    m_answerer->answer(QMessageBox::Yes);
    m_window->startJob();
    QCOMPARE(m_answerer->shown.size(), 1);
    QCOMPARE(startButton()->text(), u"Start"_s);
    QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
    QVERIFY(child<QLabel>("labelLoader")->isHidden());
    QTest::qWait(500);
    QCOMPARE(runs(u"moltra"_s), 0);
    QCOMPARE(startButton()->text(), u"Start"_s);
}

void TestJobRunner::closeWhileRunning_data()
{
    QTest::addColumn<int>("answer");
    QTest::newRow("Cancel keeps the job") << int(QMessageBox::Cancel);
    QTest::newRow("Yes closes and ends the child") << int(QMessageBox::Yes);
}

void TestJobRunner::closeWhileRunning()
{
    QFETCH(int, answer);
    standIn(u"moltra"_s, "sleep 60 &\necho $! > \"$rec.child\"\nwait\n");
    deck(u"mgo.d12"_s);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    startButton()->click();
    QTRY_VERIFY(recordedPid(u"moltra"_s, u"child"_s) > 0);
    // Only a step the window already knows to be running makes closing ask.
    QTRY_COMPARE(m_window->findChild<QProcess *>()->state(), QProcess::Running);
    const qint64 wrapper = recordedPid(u"moltra"_s);
    const qint64 computation = recordedPid(u"moltra"_s, u"child"_s);
    m_answerer->answer(QMessageBox::StandardButton(answer));
    const bool closed = m_window->close();
    QCOMPARE(m_answerer->shown.size(), 1);
    QCOMPARE(m_answerer->shown.first().text, u"Do you really want to stop the running job?"_s);
    QCOMPARE(closed, answer == QMessageBox::Yes);
    if (!closed) {
        QVERIFY(m_window->isVisible());
        QCOMPARE(startButton()->text(), u"Stop"_s);
        QVERIFY(processAlive(wrapper));
        m_answerer->answer(QMessageBox::Yes);
        startButton()->click();
    } else {
        m_window.reset();
    }
    QTRY_VERIFY(!processAlive(wrapper));
    QTRY_VERIFY(!processAlive(computation));
}

void TestJobRunner::closeWhileIdleAsksNothing()
{
    standIn(u"moltra"_s, "echo done\n");
    deck(u"mgo.d12"_s);
    m_window->show();
    startButton()->click();
    QVERIFY(waitIdle());
    QVERIFY(m_window->close());
    QVERIFY(m_answerer->shown.isEmpty());
}

void TestJobRunner::secondJobAfterFirst()
{
    standIn(u"moltra"_s, "cat\n");
    deck(u"first.d12"_s, "first deck\n");
    startButton()->click();
    QVERIFY(waitIdle());
    child<QTabWidget>("tabWidget")->setCurrentIndex(0);
    deck(u"second.d12"_s, "second deck\n");
    startButton()->click();
    QCOMPARE(child<QTabWidget>("tabWidget")->count(), 2);
    QCOMPARE(child<QTabWidget>("tabWidget")->currentIndex(), 1);
    QVERIFY(waitIdle());
    QCOMPARE(runs(u"moltra"_s), 2);
    QCOMPARE(readFile(m_work + u"/first.out"_s), QByteArray("first deck\n"));
    QCOMPARE(child<QPlainTextEdit>("plainTextEditOutput")->toPlainText(), u"second deck\n"_s);
}

void TestJobRunner::portalJobEnablesUpload()
{
    standIn(u"moltra"_s, "echo portal job\n");
    const QString job
            = writeFile(m_work + u"/job.farbojob"_s,
                        QJsonDocument(QJsonObject{ { u"input_file_name"_s, u"mgo.d12"_s },
                                                   { u"input_file_content"_s, u"MgO\n"_s },
                                                   { u"user_token"_s, u"token"_s } })
                                .toJson());
    m_window->importJobFile(job);
    QVERIFY(!child<QToolButton>("toolButtonUpload")->isEnabled());
    startButton()->click();
    QVERIFY(waitIdle());
    QVERIFY(child<QToolButton>("toolButtonUpload")->isEnabled());
    QCOMPARE(child<QPlainTextEdit>("plainTextEditOutput")->toPlainText(), u"portal job\n"_s);
}

QTEST_MAIN(TestJobRunner)
#include "tst_jobrunner.moc"
