// SPDX-License-Identifier: GPL-3.0-or-later
#include "httpsserver.h"
#include "job/jobmanager.h"
#include "mainwindow/jobstab.h"
#include "mainwindow/mainwindow.h"
#include "mainwindow/notifier.h"
#include "mainwindow/outputfileview.h"
#include "mainwindow/singleinstance.h"
#include "settings/dialogsettings.h"
#include "windowsupport.h"

#include <QComboBox>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QNetworkReply>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTableView>
#include <QThread>
#include <QToolButton>
#include <QtTest>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

// The launcher reads its command line from the application; the tests set it, apart from the
// test runner's own arguments.
static int launcherArgc = 1;
static char *launcherArgv[3] = { nullptr, nullptr, nullptr };

class TestMainWindow : public QObject
{
    Q_OBJECT

public Q_SLOTS:
    void openUrl(const QUrl &url) { m_urls << url; }

private Q_SLOTS:
    void init();
    void cleanup();
    void startupQuestionComesOnce();
    void settingsDialog_data();
    void settingsDialog();
    void refusedChoicesChangeNothing_data();
    void refusedChoicesChangeNothing();
    void portalJobRoundTrip();
    void unsettledFolderAsks_data();
    void unsettledFolderAsks();
    void outcomes_data();
    void outcomes();
    void programAndCoresRemembered();
    void serialFallbackSaid();
    void wholeOutputAtTheEnd();
    void questionFollowsTheJob_data();
    void questionFollowsTheJob();
    void closingOverARunningJob_data();
    void closingOverARunningJob();
    void outputPaneFollowsOnlyAtTheEnd();
    void stopBeforeTheFirstStep();
    void commandLineDeckAndItsFolder();
    void jobsListedAcrossWindows();
    void clusterJobGoesOnByItself();
    void batchOfDroppedDecks();
    void secondStartHandsOver();
    void deckShownAsOnDisk();
    void notificationsOfEndedJobs();
    void keyboardRecentFilesAndDrops_data();
    void keyboardRecentFilesAndDrops();

private:
    template <typename T = QToolButton> T *child(const char *name) const
    {
        return m_window->findChild<T *>(QLatin1String(name));
    }
    QString openDeck()
    {
        const QString deck = writeFile(m_dir + u"/mgo.d12"_s, "deck\n");
        m_window->openFile(deck);
        return deck;
    }
    QString jobFile(const QString &name, QJsonObject more = {})
    {
        more.insert(u"title"_s, name);
        if (!more.contains(u"input_file_name"_s))
            more.insert(u"input_file_name"_s, u"a.d12"_s);
        return writeJobFile(m_dir + u'/' + name, more);
    }
    // Clicks Start and, unless told not to, waits until the window is idle again.
    void start(bool wait = true);
    // The next launcher, once this one is gone.
    void reopen()
    {
        m_window.reset();
        m_window = std::make_unique<MainWindow>();
    }
    void standIn(const QByteArray &body) { writeStandIn(m_dir, u"moltra"_s, body); }
    // The status line, with its elapsed time written as "m:ss".
    QString status() const
    {
        // What the job used is said after its end, in parentheses.
        return child<QLabel>("labelStatus")
                ->text()
                .remove(QRegularExpression(u" \\(CPU .*\\)$"_s))
                .replace(QRegularExpression(u"\\d+:\\d\\d"_s), u"m:ss"_s);
    }

    IsolatedEnvironment m_env;
    QString m_dir;
    std::unique_ptr<MainWindow> m_window;
    std::unique_ptr<ModalAnswerer> m_answerer;
    QList<QUrl> m_urls;
};

void TestMainWindow::init()
{
    static int round = 0;
    if (round == 0)
        trustTestAuthority();
    m_dir = m_env.path() + u"/round %1"_s.arg(++round);
    QVERIFY(QDir().mkpath(m_dir + u"/package"_s));
    // Each round's own list of jobs.
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_dir + u"/data"_s));
    launcherSettings().clear();
    launcherSettings().setValue(u"moltraDir"_s, m_dir + u"/package"_s);
    // More cores than the test machine may have: the queue's own rules are tried apart.
    launcherSettings().setValue(u"localCores"_s, 16);
    m_answerer = std::make_unique<ModalAnswerer>();
    m_window = std::make_unique<MainWindow>();
}

void TestMainWindow::cleanup()
{
    m_window.reset();
    QCOMPARE(m_answerer->unexpected, 0);
    QCOMPARE(m_answerer->pending(), 0);
    QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
}

void TestMainWindow::start(bool wait)
{
    child("toolButtonStart")->click();
    if (wait && !QTest::qWaitFor([this] { return child("toolButtonStart")->text() == u"Start"_s; }))
        qWarning("the job did not end");
}

void TestMainWindow::startupQuestionComesOnce()
{
    // Shown, hidden and shown again: one question, whose Yes opens the settings dialog.
    bool sawDialog = false;
    m_answerer->answer(u"Yes"_s);
    m_answerer->act([&sawDialog](QWidget *widget) {
        sawDialog = qobject_cast<DialogSettings *>(widget) != nullptr;
        widget->close();
    });
    launcherSettings().setValue(u"moltraBinary"_s, u"/opt/bin/moltra-7"_s);
    launcherSettings().remove(u"evalixBinary"_s);
    for (const QString &stored : { QString(), m_dir }) {
        launcherSettings().setValue(u"moltraDir"_s, stored);
        reopen();
        // Seeding fills in only the names that are not set.
        QCOMPARE(launcherSettings().value(u"moltraBinary"_s), u"/opt/bin/moltra-7"_s);
        QCOMPARE(launcherSettings().value(u"evalixBinary"_s), u"evalix"_s);
        QTest::qWait(50);
        QVERIFY(m_answerer->shown.isEmpty() || !stored.isEmpty());
        for (int show = 0; show < 2; ++show) {
            m_window->show();
            QTest::qWait(200);
            m_window->hide();
        }
        QVERIFY(sawDialog);
        QCOMPARE(m_answerer->shown.size(), 1);
    }
}

void TestMainWindow::settingsDialog_data()
{
    QTest::addColumn<bool>("confirmed");
    QTest::newRow("OK stores") << true;
    QTest::newRow("Cancel stores nothing") << false;
}

void TestMainWindow::settingsDialog()
{
    QFETCH(bool, confirmed);
    const QString chosen = m_dir + u"/other package"_s;
    m_answerer->act([&](QWidget *widget) {
        auto *dialog = qobject_cast<DialogSettings *>(widget);
        dialog->setDirectory(chosen);
        dialog->findChild<QLineEdit *>(u"editMpiLauncher"_s)->setText(u"sh"_s);
        confirmed ? dialog->accept() : dialog->reject();
    });
    m_window->changeSettings();
    QCOMPARE(launcherSettings().value(u"moltraDir"_s), confirmed ? chosen : m_dir + u"/package"_s);
    QCOMPARE(launcherSettings().value(u"mpiLauncher"_s), confirmed ? u"sh"_s : QVariant());
}

void TestMainWindow::refusedChoicesChangeNothing_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("message");
    QTest::newRow("named pipe as deck") << u"pipe.d12"_s << u"is not a regular file"_s;
    QTest::newRow("job file not JSON") << u"broken.farbojob"_s << u"is not a portal job: "_s;
}

void TestMainWindow::refusedChoicesChangeNothing()
{
    QFETCH(QString, name);
    QFETCH(QString, message);
    standIn("cat\n");
    const QString refused = m_dir + u'/' + name;
    if (name.startsWith(u"pipe"_s))
        QCOMPARE(::mkfifo(QFile::encodeName(refused).constData(), 0600), 0);
    else
        writeFile(refused, "{ not json");
    openDeck();
    m_answerer->answer(u"OK"_s);
    m_window->openFile(refused);
    QVERIFY2(m_answerer->shown.value(0).contains(message), qPrintable(m_answerer->shown.value(0)));
    start();
    QCOMPARE(readFile(m_dir + u"/mgo.out"_s), QByteArray("deck\n"));
}

void TestMainWindow::portalJobRoundTrip()
{
    // Pmoltra runs under a launcher that logs its arguments and runs the last one.
    standIn("cat\n");
    QFile::link(m_dir + u"/package/moltra"_s, m_dir + u"/package/Pmoltra"_s);
    launcherSettings().setValue(u"mpiLauncher"_s,
                                writeScript(m_dir + u"/mpi"_s,
                                            "printf '%s\\n' \"$*\" > \"$0.args\"\n"
                                            "for last; do :; done\nexec \"$last\"\n"));
    // A parallel build chosen after importing a serial job takes the job file's cores; the
    // import shows the Input tab.
    auto *tabs = child<QTabWidget>("tabWidget");
    tabs->setCurrentWidget(child<QWidget>("tabJobs"));
    QVERIFY(tabs->currentIndex() > 0);
    m_window->openFile(jobFile(u"serial.farbojob"_s, { { u"program"_s, 0 }, { u"ncpus"_s, 3 } }));
    QCOMPARE(tabs->currentIndex(), 0);
    child<QComboBox>("comboBoxProgram")->setCurrentText(u"Pmoltra"_s);
    QCOMPARE(child<QSpinBox>("spinBoxProcs")->value(), 3);
    m_window->openFile(jobFile(u"a.farbojob"_s,
                               { { u"program"_s, 1 },
                                 { u"ncpus"_s, 4 },
                                 { u"user_id"_s, 5 },
                                 { u"user_token"_s, u"token A"_s },
                                 { u"job_id"_s, 11 } }));
    const QString folder = child<QLineEdit>("lineEditWorkDir")->text();
    // A failed import leaves job A as it was.
    m_answerer->answer(u"OK"_s);
    m_window->openFile(jobFile(u"b.farbojob"_s, { { u"input_file_name"_s, u"../b.d12"_s } }));
    QCOMPARE(m_answerer->shown.size(), 1);
    QVERIFY2(m_answerer->shown.first().startsWith(u"Unable to create input file ../b.d12: "_s),
             qPrintable(m_answerer->shown.first()));
    start();
    QCOMPARE(readFile(folder + u"/a.out"_s), QByteArray("MgO\n"));
    QCOMPARE(readFile(m_dir + u"/mpi.args"_s),
             "-n 4 " + QFile::encodeName(m_dir) + "/package/Pmoltra\n");
    // A portal that refuses at once, then one that answers at once: each result box is the
    // only window over the launcher, and its OK makes the launcher idle again.
    HttpsServer server;
    bool progressOverBox = false;
    auto *upload = child("toolButtonUpload");
    for (const QString &url : { u"https://127.0.0.1:1/"_s, server.url() }) {
        m_window->setUploadUrl(QUrl(url));
        m_answerer->act([&](QWidget *box) {
            QTest::qWait(1500);
            for (QWidget *widget : QApplication::topLevelWidgets())
                progressOverBox |= qobject_cast<QProgressDialog *>(widget) && widget->isVisible();
            m_answerer->click(box, u"OK"_s);
        });
        upload->click();
        QTRY_VERIFY(upload->isEnabled());
    }
    QVERIFY(!progressOverBox);
    QCOMPARE(m_answerer->shown.mid(1),
             QStringList({ u"Error uploading files to Farbo server (%1): Connection refused"_s.arg(
                                   int(QNetworkReply::ConnectionRefusedError)),
                           u"Successfully uploaded job files to Farbo server"_s }));
    const FormItems items = decodeForm(server.requests.value(0).body);
    QCOMPARE(items.mid(0, 3),
             FormItems({ { "user_id", "5" }, { "user_token", "token A" }, { "job_id", "11" } }));
    QCOMPARE(items.size(), 3 + 2 * 2);
    // Uploaded: opening another job asks nothing, and the folder goes.
    m_window->openFile(jobFile(u"c.farbojob"_s));
    QVERIFY(!QFile::exists(folder));
    // A second run's results are not sent while it runs, and closing then asks.
    start();
    start(false);
    QVERIFY(!upload->isEnabled());
    QTRY_VERIFY(upload->isEnabled());
    m_answerer->answer(u"Cancel"_s);
    QVERIFY(!m_window->close());
    QCOMPARE(m_answerer->shown.size(), 4);
}

void TestMainWindow::unsettledFolderAsks_data()
{
    QTest::addColumn<bool>("close"); // or import another job file
    QTest::addColumn<QString>("answer");
    QTest::newRow("close, Keep folder") << true << u"Keep folder"_s;
    QTest::newRow("close, Keep folder, name taken") << true << u"Keep folder"_s;
    QTest::newRow("import, Discard") << false << u"Discard"_s;
    QTest::newRow("open a deck, Discard") << false << u"Discard"_s;
    QTest::newRow("close, Cancel") << true << u"Cancel"_s;
}

void TestMainWindow::unsettledFolderAsks()
{
    QFETCH(bool, close);
    QFETCH(QString, answer);
    const bool taken = QByteArray(QTest::currentDataTag()).endsWith("taken");
    standIn("cat\n");
    m_window->openFile(jobFile(u"A.farbojob"_s));
    const QString folder = child<QLineEdit>("lineEditWorkDir")->text();
    const QString kept = m_env.path() + u"/Documents/MOLTRA jobs/"_s + QFileInfo(folder).fileName();
    if (taken)
        writeFile(kept, "another job's\n");
    start();
    m_answerer->answer(answer);
    QStringList asked{ u"The job folder %1 holds results that have not been uploaded."_s.arg(
            folder) };
    if (answer == u"Keep folder"_s) {
        // The folder is offered a lasting place, under the documents folder.
        m_answerer->answer(u"Save"_s);
        m_answerer->answer(u"OK"_s);
        asked << (taken ? u"The job folder could not be moved: %1 already exists.\nIt stays at %2."_s
                                  .arg(kept, folder)
                        : u"The job folder is kept: "_s + kept);
    }
    const bool released = answer != u"Cancel"_s && !taken;
    const bool deck = QByteArray(QTest::currentDataTag()).startsWith("open a deck");
    if (close)
        QCOMPARE(m_window->close(), released);
    else
        m_window->openFile(deck ? writeFile(m_dir + u"/B.d12"_s, "B\n") : jobFile(u"B.farbojob"_s));
    // The list finds the job in the folder's new place.
    const QString listed = m_window->findChild<JobManager *>()->jobs().first().workDir;
    QCOMPARE(listed, answer == u"Keep folder"_s && !taken ? kept : folder);
    QCOMPARE(m_answerer->shown, asked);
    QCOMPARE(child<QLineEdit>("lineEditTitle")->text().trimmed(),
             close ? u"A.farbojob"_s : (deck ? u"B"_s : u"B.farbojob"_s));
    m_window.reset();
    QCOMPARE(readFile(kept + u"/a.out"_s),
             QByteArray(answer == u"Keep folder"_s && !taken ? "MgO\n" : ""));
    QVERIFY(!QFile::exists(folder));
}

void TestMainWindow::outcomes_data()
{
    QTest::addColumn<QByteArray>("moltra"); // empty: no such executable
    QTest::addColumn<QString>("expectedStatus");
    QTest::addColumn<QString>("message");
    const QByteArray lines = "seq -f 'line %g' 300\n";
    QTest::newRow("finished") << lines << u"Finished in m:ss"_s << QString();
    QTest::newRow("exit code 3")
            << lines + "echo broken >&2\nexit 3\n"
            << u"Failed after m:ss: moltra exited with code 3"_s
            << u"moltra (step 1 of 1) exited with code 3.\n\nThe last lines of %1/mgo.out.err:\n\nbroken"_s;
    QTest::newRow("failed start")
            << QByteArray() << u"Could not start moltra"_s
            << u"Unable to start the .d12 job: %1/package/moltra is not an executable file"_s;
    QTest::newRow("deck gone")
            << lines << u"Could not start moltra"_s
            << u"Unable to start the .d12 job: the input file %1/mgo.d12 cannot be read"_s;
}

void TestMainWindow::outcomes()
{
    QFETCH(QByteArray, moltra);
    QFETCH(QString, expectedStatus);
    QFETCH(QString, message);
    if (!moltra.isEmpty())
        standIn(moltra);
    openDeck();
    if (QByteArray(QTest::currentDataTag()) == "deck gone")
        QFile::remove(m_dir + u"/mgo.d12"_s);
    if (!message.isEmpty())
        m_answerer->answer(u"OK"_s);
    // The pane is complete once the window is idle, and its last line is in view.
    auto *pane = child<OutputFileView>("outputView");
    QString paneAtEnd;
    connect(m_window->findChild<JobManager *>(), &JobManager::jobEnded, this, [&] {
        const QScrollBar *bar = pane->verticalScrollBar();
        paneAtEnd = pane->text().right(9) + QString::number(bar->maximum() - bar->value());
    });
    start();
    QTRY_COMPARE(m_answerer->pending(), 0);
    QCOMPARE(status(), expectedStatus);
    QCOMPARE(child<QLabel>("labelStatus")->text().contains(u" (CPU "_s),
             !expectedStatus.startsWith(u"Could not"_s));
    QCOMPARE(m_answerer->shown,
             message.isEmpty() ? QStringList()
                               : QStringList{ QString(message).replace(u"%1"_s, m_dir) });
    QCOMPARE(paneAtEnd, expectedStatus.startsWith(u"Could not"_s) ? u"0"_s : u"line 300\n0"_s);
    QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
    QVERIFY(child<QLabel>("labelLoader")->isHidden() && child("toolButtonChoose")->isEnabled());
    // The status stays until the next file is loaded, whose own output the pane then shows.
    writeFile(m_dir + u"/other/b.out"_s, "b's output\n");
    m_window->openFile(writeFile(m_dir + u"/other/b.d12"_s, "b\n"));
    QCOMPARE(status(), QString());
    QTRY_COMPARE(pane->text(), u"b's output\n"_s);
}

void TestMainWindow::programAndCoresRemembered()
{
    standIn("exit 0\n");
    openDeck();
    child<QComboBox>("comboBoxProgram")->setCurrentText(u"Pmoltra"_s);
    child<QSpinBox>("spinBoxProcs")->setValue(3);
    start();
    // In the next window, for a deck the program fits; an EVALIX deck gets its first program.
    reopen();
    openDeck();
    QCOMPARE(child<QComboBox>("comboBoxProgram")->currentText(), u"Pmoltra"_s);
    QCOMPARE(child<QSpinBox>("spinBoxProcs")->value(), 3);
    m_window->openFile(writeFile(m_dir + u"/mgo.d3"_s, "deck\n"));
    QCOMPARE(child<QComboBox>("comboBoxProgram")->currentText(), u"evalix"_s);
}

void TestMainWindow::serialFallbackSaid()
{
    standIn("sleep 1\n");
    openDeck();
    child<QComboBox>("comboBoxProgram")->setCurrentText(u"Pmoltra"_s);
    start(false);
    QTRY_COMPARE(status(), u"Pmoltra is not installed: running moltra on one core, m:ss"_s);
    QTRY_COMPARE(status(), u"Finished in m:ss"_s);
}

void TestMainWindow::wholeOutputAtTheEnd()
{
    // Far more than the pane takes in one slice, written just before the end.
    standIn("seq -f 'cycle %g energy -275.1' 800000\n");
    openDeck();
    start();
    const QString output = m_dir + u"/mgo.out"_s;
    QCOMPARE(child<OutputFileView>("outputView")->text(), QString::fromUtf8(readFile(output)));
}

void TestMainWindow::questionFollowsTheJob_data()
{
    QTest::addColumn<QString>("question"); // "stop" or "close", and the answer given, if any
    QTest::newRow("stop") << u"stop"_s;
    QTest::newRow("close") << u"close"_s;
    QTest::newRow("stop, Yes") << u"stop, Yes"_s;
}

void TestMainWindow::questionFollowsTheJob()
{
    QFETCH(QString, question);
    // Asked to end, the program takes a second more.
    standIn("trap 'sleep 1; exit 0' TERM\nsleep 1\n");
    openDeck();
    start(false);
    waitForPid(m_dir + u"/moltra.pid"_s);
    QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::BusyCursor);
    if (question.endsWith(u"Yes"_s)) {
        // Stopping lasts until the program has ended, and Start waits for it.
        m_answerer->answer(u"Yes"_s);
        child("toolButtonStart")->click();
        QVERIFY(status() == u"Stopping moltra..."_s && !child("toolButtonStart")->isEnabled());
        QTRY_COMPARE(status(), u"Stopped after m:ss"_s);
        QVERIFY(child("toolButtonStart")->isEnabled());
        return;
    }
    // The question stays open until the job ends by itself and takes it away, unanswered:
    // the window stays open.
    m_answerer->act([](QWidget *) {});
    if (question == u"close"_s)
        QVERIFY(!m_window->close());
    else
        child("toolButtonStart")->click();
    QCOMPARE(m_answerer->shown.size(), 1);
    QCOMPARE(status(), u"Finished in m:ss"_s);
    QTest::qWait(100);
    QCOMPARE(child("toolButtonStart")->text(), u"Start"_s);
}

void TestMainWindow::closingOverARunningJob_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<Jobs::State>("state"); // as the next launcher finds the job at its end
    QTest::addColumn<bool>("cleanedUp"); // the program's own handler of the request ran
    QTest::newRow("Yes stops it, as Stop does") << u"Yes"_s << Jobs::State::Stopped << true;
    QTest::newRow("Leave running") << u"Leave running"_s << Jobs::State::Finished << false;
}

void TestMainWindow::closingOverARunningJob()
{
    QFETCH(QString, answer);
    QFETCH(Jobs::State, state);
    QFETCH(bool, cleanedUp);
    standIn("trap 'touch \"$0.clean\"; exit 1' TERM\nsleep 2 & wait\n");
    m_window->show();
    openDeck();
    start(false);
    waitForPid(m_dir + u"/moltra.pid"_s);
    m_answerer->answer(answer);
    m_window->close();
    // The window goes once its stopped job has ended; a job left running goes on.
    QTRY_VERIFY(!m_window->isVisible());
    reopen();
    auto *jobs = m_window->findChild<JobManager *>();
    QCOMPARE(jobs->jobs().size(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(!Jobs::isActive(jobs->jobs().first().state), 10000);
    QCOMPARE(jobs->jobs().first().state, state);
    QCOMPARE(QFile::exists(m_dir + u"/package/moltra.clean"_s), cleanedUp);
}

void TestMainWindow::outputPaneFollowsOnlyAtTheEnd()
{
    OutputFileView view;
    view.resize(300, 100);
    const QString output = writeFile(m_dir + u"/out"_s, "line\n"_ba.repeated(200));
    QScrollBar *bar = view.verticalScrollBar();
    const auto feed = [&](const QByteArray &text) {
        QFile file(output);
        QVERIFY(file.open(QIODevice::Append) && file.write(text) == text.size());
        file.close();
        view.complete();
    };
    view.open(output);
    view.complete();
    bar->setValue(bar->maximum());
    feed("more\n"_ba);
    QCOMPARE(bar->value(), bar->maximum());
    // A reader who scrolled up stays; back at the end, the view follows again.
    bar->setValue(10);
    feed("more\n"_ba.repeated(50));
    QCOMPARE(bar->value(), 10);
    bar->setValue(bar->maximum());
    feed("last\n"_ba);
    QCOMPARE(bar->value(), bar->maximum());
    QCOMPARE(view.rowText(view.rowCount() - 1), u"last"_s);
}

void TestMainWindow::stopBeforeTheFirstStep()
{
    standIn("echo ran\n");
    openDeck();
    m_window->startJob();
    // Before the event loop runs again: the step that was due never starts.
    m_window->stopJob();
    QCOMPARE(child("toolButtonStart")->text(), u"Start"_s);
    QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
    QTest::qWait(300);
    QVERIFY(!QFile::exists(m_dir + u"/moltra.pid"_s));
}

void TestMainWindow::commandLineDeckAndItsFolder()
{
    const QString folder = m_dir + u"/my jobs/MgO #1"_s;
    const QByteArray argument = QFile::encodeName(writeFile(folder + u"/mgo.d3"_s, "deck\n"));
    launcherArgv[1] = const_cast<char *>(argument.constData());
    launcherArgc = 2;
    reopen();
    launcherArgc = 1;
    QDesktopServices::setUrlHandler(u"file"_s, this, "openUrl");
    child("toolButtonOpenWorkdir")->click();
    QDesktopServices::unsetUrlHandler(u"file"_s);
    QCOMPARE(m_urls, QList<QUrl>{ QUrl::fromLocalFile(folder) });
    // Without a file manager the folder is named in a message.
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", "");
    m_answerer->answer(u"OK"_s);
    child("toolButtonOpenWorkdir")->click();
    qputenv("PATH", path);
    QCOMPARE(m_answerer->shown, QStringList{ u"Unable to open the folder "_s + folder });
}

void TestMainWindow::jobsListedAcrossWindows()
{
    standIn("cat\n");
    openDeck();
    start();
    m_window->openFile(writeFile(m_dir + u"/si/si.d12"_s, "silicon\n"));
    start();
    const auto jobs = [this] {
        child<QTabWidget>("tabWidget")->setCurrentWidget(child<QWidget>("tabJobs"));
        return child<QTableView>("tableViewJobs");
    };
    const auto row = [&jobs](int row) {
        QStringList cells;
        for (int column = 0; column < jobs()->model()->columnCount(); ++column)
            cells << jobs()->model()->index(row, column).data().toString();
        return cells.join(u'|').replace(QRegularExpression(u"\\|[^|]*\\d:\\d\\d[^|]*"_s), u"|t"_s);
    };
    // Newest first, in the next window as well.
    reopen();
    QCOMPARE(jobs()->model()->rowCount(), 2);
    QCOMPARE(row(0).section(u'|', 0, 8),
             u"Finished|silicon|si.d12|moltra|1|This computer|t|t|exit code 0"_s);
    const QString used = jobs()->model()->index(0, 9).data().toString();
    QVERIFY2(used.startsWith(u"CPU "_s) && used.contains(u"% of 1 core, "_s), qPrintable(used));
    QCOMPARE(row(1).section(u'|', 1, 1), u"deck"_s);
    // The filter looks through decks (and titles, programs, places, states), in any case.
    child<QLineEdit>("lineEditJobsFilter")->setText(u"SI.D12"_s);
    QCOMPARE(jobs()->model()->rowCount(), 1);
    child<QLineEdit>("lineEditJobsFilter")->clear();
    QCOMPARE(jobs()->model()->rowCount(), 2);
    // At the top of the window, the jobs not ended, by place.
    QList<Job> active(4);
    active[1].state = Jobs::State::Queued;
    active[2].where = u"c1"_s;
    active[3].state = Jobs::State::Finished;
    QCOMPARE(JobsTab::countsText(active),
             u"1 running, 1 queued on this computer; 1 running on c1"_s);
    QCOMPARE(JobsTab::countsText({}), QString());

    // Enter loads the job's deck and shows its output.
    jobs()->setCurrentIndex(jobs()->model()->index(1, 0));
    QTest::keyClick(jobs(), Qt::Key_Return);
    QCOMPARE(child<QLineEdit>("lineEditWorkDir")->text(), m_dir);
    QTRY_COMPARE(child<OutputFileView>("outputView")->text(), u"deck\n"_s);
    // Forgotten, the job leaves the list; its output stays.
    auto *manager = m_window->findChild<JobManager *>();
    QVERIFY(manager->remove(manager->jobs().first().id));
    QCOMPARE(jobs()->model()->rowCount(), 1);
    QCOMPARE(row(0).section(u'|', 1, 1), u"silicon"_s);
    QVERIFY(QFile::exists(m_dir + u"/mgo.out"_s));

    // A list that cannot be kept is said in the status line; jobs run all the same.
    m_window.reset();
    const QString ledger
            = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + u"/jobs.sqlite"_s;
    QVERIFY(QFile::remove(ledger) && QDir().mkpath(ledger));
    reopen();
    QTRY_VERIFY2(status().contains(u"is a folder"_s), qPrintable(status()));
    openDeck();
    start();
    QCOMPARE(row(0).section(u'|', 0, 0), u"Finished"_s);
}

void TestMainWindow::clusterJobGoesOnByItself()
{
    writeFakeCluster(m_dir);
    writeFile(m_dir + u"/fake/squeue"_s, "7|PENDING|Priority\n");
    const QByteArray path = qgetenv("PATH");
    const auto restore = qScopeGuard([path] { qputenv("PATH", path); });
    qputenv("PATH", QFile::encodeName(m_dir + u"/bin:"_s) + path);
    QSettings settings = launcherSettings();
    settings.setValue(u"clusters/fake/host"_s, u"cluster"_s);
    settings.setValue(u"clusters/fake/remoteDir"_s, u"jobs"_s);
    settings.setValue(u"clusters/fake/packageDir"_s, m_dir + u"/package"_s);
    settings.setValue(u"clusters/fake/pollSeconds"_s, 1);
    settings.sync();
    reopen();
    openDeck();
    auto *runOn = child<QComboBox>("comboBoxRunOn");
    QCOMPARE(runOn->itemText(1), u"fake"_s);
    runOn->setCurrentIndex(1);
    start(false);

    QTRY_COMPARE_WITH_TIMEOUT(status(), u"Queued on fake, m:ss"_s, 10000);
    // Nothing here waits for it: no busy cursor, and another deck can be loaded.
    QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
    QVERIFY(child("toolButtonChoose")->isEnabled());
    m_window->openFile(writeFile(m_dir + u"/other.d12"_s, "other\n"));
    QTRY_COMPARE(status(), u"The job on fake goes on; the Jobs tab lists it"_s);
    QCOMPARE(child("toolButtonStart")->text(), u"Start"_s);
    // Its end is still told.
    const QString folder
            = QDir(m_dir + u"/home/jobs"_s).entryList(QDir::Dirs | QDir::NoDotAndDotDot).value(0);
    writeFile(m_dir + u"/home/jobs/"_s + folder + u"/moltra.status"_s,
              "moltra-status 1\nstep 1 start 1796680000\nstep 1 end 1796680004 0 0m1s 0m0s -\n"
              "end 1796680004 finished\n");
    writeFile(m_dir + u"/fake/squeue"_s, "");
    QTRY_COMPARE_WITH_TIMEOUT(status(), u"mgo.d12 on fake: Finished in m:ss"_s, 10000);
    // The next window sends jobs there again.
    reopen();
    QCOMPARE(child<QComboBox>("comboBoxRunOn")->currentText(), u"fake"_s);
}

void TestMainWindow::batchOfDroppedDecks()
{
    standIn("cat >> \"$0.decks\"\n");
    QVERIFY(QDir().mkpath(m_dir + u"/folder.d12"_s));
    QMimeData files;
    files.setUrls({ QUrl::fromLocalFile(writeFile(m_dir + u"/x.d12"_s, "deck x\n")),
                    QUrl::fromLocalFile(m_dir + u"/folder.d12"_s),
                    QUrl::fromLocalFile(writeFile(m_dir + u"/y.d12"_s, "deck y\n")) });
    QDragEnterEvent enter({ 10, 10 }, Qt::CopyAction, &files, Qt::LeftButton, {});
    QApplication::sendEvent(m_window.get(), &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop({ 10, 10 }, Qt::CopyAction, &files, Qt::LeftButton, {});
    m_answerer->answer(u"Yes"_s);
    m_answerer->answer(u"OK"_s);
    QApplication::sendEvent(m_window.get(), &drop);
    QTRY_COMPARE(m_answerer->shown.size(), 2);
    QCOMPARE(m_answerer->shown.first(), u"Run 2 decks on this computer, 1 core each?"_s);
    QCOMPARE(m_answerer->shown.last(), u"1 of the decks cannot run."_s);
    QTRY_COMPARE(readFile(m_dir + u"/package/moltra.decks"_s).size(), qsizetype(14));
}

void TestMainWindow::secondStartHandsOver()
{
    const QString name = m_dir + u"/launcher"_s;
    SingleInstance first(name);
    QString error;
    QVERIFY2(first.listen(&error), qPrintable(error));
    connect(&first, &SingleInstance::filesReceived, m_window.get(), &MainWindow::takeFiles);
    // The later start waits for the answer, so it runs beside this event loop. It has gone by
    // the time the question about a batch is answered.
    const auto handOver = [&name](const QStringList &files) {
        bool handed = false;
        std::unique_ptr<QThread> second(
                QThread::create([&] { handed = SingleInstance::handOver(name, files); }));
        second->start();
        return QTest::qWaitFor([&second] { return second->isFinished(); }) && handed;
    };
    writeFile(m_dir + u"/si.d12"_s, "silicon\n");
    m_answerer->act([this](QWidget *box) {
        // Answered once the later start has gone, and its connection with it.
        QTimer::singleShot(1000, box, [this, box] { m_answerer->click(box, u"Cancel"_s); });
    });
    QVERIFY(handOver({ m_dir + u"/si.d12"_s, openDeck() }));
    QTRY_COMPARE(m_answerer->shown, QStringList{ u"Run 2 decks on this computer, 1 core each?"_s });
    QVERIFY(handOver({ m_dir + u"/./si.d12"_s }));
    QTRY_COMPARE(child<QLineEdit>("lineEditInputFile")->text(), u"si.d12"_s);
    // A launcher that crashed left its socket: nobody answers, and the next one takes it.
    const QString stale = m_dir + u"/stale"_s;
    {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        qstrncpy(address.sun_path, QFile::encodeName(stale).constData(), sizeof address.sun_path);
        const int bound = ::socket(AF_UNIX, SOCK_STREAM, 0);
        QCOMPARE(::bind(bound, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
        ::close(bound);
    }
    QVERIFY(QFileInfo(stale).exists());
    QVERIFY(!SingleInstance::handOver(stale, {}, 500));
    SingleInstance next(stale);
    QVERIFY2(next.listen(&error), qPrintable(error));
}

void TestMainWindow::deckShownAsOnDisk()
{
    // The desktop's editor of plain text, which logs what it was given.
    const QString editor = m_env.path() + u"/share/editor"_s;
    writeScript(editor, "echo \"$@\" > \"$0.args\"\n");
    // Outside the round's folder: xdg-mime does not take paths with a space.
    const QByteArray dataHome = qgetenv("XDG_DATA_HOME");
    const auto restore = qScopeGuard([dataHome] { qputenv("XDG_DATA_HOME", dataHome); });
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_env.path()) + "/share");
    writeFile(m_env.path() + u"/share/applications/editor.desktop"_s,
              "[Desktop Entry]\nType=Application\nName=Editor\nExec=" + QFile::encodeName(editor)
                      + " --new %F\n");
    writeFile(QDir::homePath() + u"/.config/mimeapps.list"_s,
              "[Default Applications]\ntext/plain=editor.desktop\n");
    standIn("cat\n");
    openDeck();
    const QString deck = m_dir + u"/mgo.d12"_s;
    auto *input = child<QPlainTextEdit>("plainTextEditInput");
    // Saved in place, and saved as editors do, by renaming a new file over it.
    writeFile(deck, "deck 2\n");
    QTRY_COMPARE(input->toPlainText(), u"deck 2\n"_s);
    QVERIFY(QFile::remove(deck) && QFile::rename(writeFile(deck + u"~"_s, "deck 3\n"), deck));
    QTRY_COMPARE(input->toPlainText(), u"deck 3\n"_s);
    // Started before the change was heard of: it is shown as it starts.
    writeFile(deck, "deck 4\n");
    child("toolButtonStart")->click();
    QCOMPARE(input->toPlainText(), u"deck 4\n"_s);
    QTRY_COMPARE(child("toolButtonStart")->text(), u"Start"_s);
    QCOMPARE(readFile(m_dir + u"/mgo.out"_s), QByteArray("deck 4\n"));
    child("toolButtonOpenInEditor")->click();
    QTRY_COMPARE(readFile(editor + u".args"_s), "--new " + QFile::encodeName(deck) + '\n');
}

// Stands in for the desktop's notification service: keeps what it is asked to show.
class NotificationService : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    QStringList shown;

public Q_SLOTS:
    uint Notify(const QString &, uint, const QString &, const QString &summary, const QString &body,
                const QStringList &actions, const QVariantMap &, int)
    {
        shown << summary + u" | "_s + body + u" | "_s + actions.join(u',');
        return uint(shown.size());
    }
};

void TestMainWindow::notificationsOfEndedJobs()
{
    // A session bus of the test's own.
    QProcess daemon;
    daemon.start(u"dbus-daemon"_s, { u"--session"_s, u"--nofork"_s, u"--print-address"_s });
    QVERIFY2(daemon.waitForReadyRead(5000), "dbus-daemon did not start: is it installed?");
    const QString address = QString::fromUtf8(daemon.readLine().trimmed());
    const auto stop = qScopeGuard([&daemon] {
        daemon.kill();
        daemon.waitForFinished();
    });
    QDBusConnection client = QDBusConnection::connectToBus(address, u"client"_s);
    Notifier notifier(client);
    QSignalSpy unavailable(&notifier, &Notifier::unavailable);
    QSignalSpy activated(&notifier, &Notifier::activated);
    Job job;
    job.id = 5;
    job.title = u"MgO"_s;
    job.deck = u"/x/mgo.d12"_s;
    job.started = QDateTime::currentDateTime();
    job.ended = job.started.addSecs(8);
    job.state = Jobs::State::Finished;
    // Without a service, the window is asked to say it itself.
    notifier.ended(job, JobOutcome(), false);
    QVERIFY(unavailable.wait(5000));

    NotificationService service;
    QDBusConnection bus = QDBusConnection::connectToBus(address, u"service"_s);
    QVERIFY(bus.registerObject(u"/org/freedesktop/Notifications"_s, &service,
                               QDBusConnection::ExportAllSlots));
    QVERIFY(bus.registerService(u"org.freedesktop.Notifications"_s));
    notifier.ended(job, JobOutcome(), true); // the user looks at the window
    notifier.ended(job, JobOutcome(), false);
    QTRY_COMPARE(service.shown,
                 QStringList{ u"MgO (mgo.d12) | Finished in 0:08 | default,Show"_s });
    // A batch is told of once, when its last job has ended.
    notifier.addBatch({ 1, 2, 3 });
    for (const qint64 id : { 1, 2, 3 }) {
        job.id = id;
        job.state = id == 2 ? Jobs::State::Failed : Jobs::State::Finished;
        notifier.ended(job, JobOutcome(), false);
    }
    QTRY_COMPARE(service.shown.size(), 2);
    QVERIFY2(service.shown.last().startsWith(u"3 jobs ended: 2 finished, 1 failed | "_s),
             qPrintable(service.shown.last()));
    // Clicking it brings up the batch's last job.
    bus.send(QDBusMessage::createSignal(u"/org/freedesktop/Notifications"_s,
                                        u"org.freedesktop.Notifications"_s, u"ActionInvoked"_s)
             << uint(2) << u"default"_s);
    QVERIFY(activated.wait(5000));
    QCOMPARE(activated.first().first().toLongLong(), 3);
    QCOMPARE(unavailable.size(), 1);
}

void TestMainWindow::keyboardRecentFilesAndDrops_data()
{
    QTest::addColumn<QString>("focus");
    // Each step: "key:" a key sequence, "wait:" for the job's end, "type:" text, "open:" a file
    // (a name starting with "-" is deleted after opening), "drop:" files dropped at once.
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QString>("expected");
    // One whole forward round reaches every control once, in reading order.
    QTest::newRow("Tab in reading order")
            << u"lineEditInputFile"_s << QStringList(13, u"key:Tab"_s)
            << u"toolButtonChoose lineEditTitle lineEditWorkDir comboBoxProgram comboBoxRunOn "
               "toolButtonStart qt_tabwidget_tabbar plainTextEditInput toolButtonOpenInEditor "
               "toolButtonOpenWorkdir toolButtonSettings toolButtonClose lineEditInputFile"_s;
    QTest::newRow("Enter on a focused Start")
            << u"toolButtonStart"_s << QStringList{ u"key:Return"_s } << u"ran"_s;
    QTest::newRow("F5 starts, and again after a run")
            << u"plainTextEditInput"_s << QStringList{ u"key:F5"_s, u"wait:"_s, u"key:F5"_s }
            << u"ran ran"_s;
    QTest::newRow("Ctrl+Q closes")
            << u"comboBoxProgram"_s << QStringList{ u"key:Ctrl+Q"_s } << u"closed"_s;
    QTest::newRow("find in the output, any case, round from the end")
            << u"plainTextEditInput"_s
            << QStringList{ u"key:F5"_s,     u"wait:"_s,      u"key:Ctrl+F"_s, u"type:LINE 3"_s,
                            u"key:Return"_s, u"key:Return"_s, u"key:Return"_s }
            << u"ran found line 3 at 2"_s;
    QTest::newRow("recent files, newest first, gone ones dropped")
            << QString()
            << QStringList{ u"open:a.d12"_s, u"open:b.farbojob"_s, u"open:-gone.d3"_s,
                            u"open:c.d3"_s, u"open:a.d12"_s }
            << u"a.d12 c.d3 b.farbojob mgo.d12"_s;
    QTest::newRow("drop a deck") << QString() << QStringList{ u"drop:x.d3"_s } << u"opened x.d3"_s;
    QTest::newRow("drop a deck and a job file")
            << QString() << QStringList{ u"drop:x.d12 y.farbojob"_s } << u"refused"_s;
    QTest::newRow("drop a text file")
            << QString() << QStringList{ u"drop:x.txt"_s } << u"refused"_s;
    QTest::newRow("drop while a job runs")
            << QString() << QStringList{ u"key:F5"_s, u"drop:x.d12"_s } << u"ran opened x.d12"_s;
}

void TestMainWindow::keyboardRecentFilesAndDrops()
{
    QFETCH(QString, focus);
    QFETCH(QStringList, steps);
    QFETCH(QString, expected);
    standIn("sleep 0.5\nseq -f 'line %g' 30\n");
    m_window->show();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    openDeck();
    if (!focus.isEmpty())
        m_window->findChild<QWidget *>(focus)->setFocus();
    const auto idle = [this] { return child("toolButtonStart")->text() == u"Start"_s; };
    QStringList seen;
    for (const QString &step : std::as_const(steps)) {
        const QString kind = step.section(u':', 0, 0);
        const QString argument = step.section(u':', 1);
        if (kind == u"key"_s) {
            const bool wasIdle = idle();
            QTest::keySequence(QApplication::focusWidget(), QKeySequence(argument));
            // A shortcut clicks its button a moment later.
            QTest::qWait(200);
            if (argument == u"Tab"_s)
                seen << QApplication::focusWidget()->objectName();
            if (wasIdle && !idle())
                seen << u"ran"_s;
        } else if (kind == u"wait"_s) {
            QVERIFY(QTest::qWaitFor(idle));
        } else if (kind == u"type"_s) {
            QTest::keyClicks(QApplication::focusWidget(), argument);
        } else if (kind == u"open"_s) {
            const QString path = m_dir + u'/' + QString(argument).remove(u'-');
            m_window->openFile(argument.endsWith(u".farbojob"_s) ? jobFile(argument)
                                                                 : writeFile(path, "deck\n"));
            if (argument.startsWith(u'-'))
                QFile::remove(path);
        } else {
            QMimeData files;
            QList<QUrl> urls;
            for (const QString &name : argument.split(u' '))
                urls << QUrl::fromLocalFile(writeFile(m_dir + u'/' + name, "deck\n"));
            files.setUrls(urls);
            QDragEnterEvent enter({ 10, 10 }, Qt::CopyAction, &files, Qt::LeftButton, {});
            QApplication::sendEvent(m_window.get(), &enter);
            QDropEvent drop({ 10, 10 }, Qt::CopyAction, &files, Qt::LeftButton, {});
            if (enter.isAccepted())
                QApplication::sendEvent(m_window.get(), &drop);
            QTest::qWait(50);
            seen << (enter.isAccepted()
                             ? u"opened "_s + child<QLineEdit>("lineEditInputFile")->text()
                             : u"refused"_s);
        }
    }
    if (steps.first().startsWith(u"open:"_s)) {
        QMenu *menu = child("toolButtonChoose")->menu();
        Q_EMIT menu->aboutToShow();
        for (const QAction *action : menu->actions())
            seen << action->text().section(u' ', 0, 0);
    }
    if (const auto *view = child<OutputFileView>("outputView"); !view->selectedText().isEmpty())
        seen << u"found %1 at %2"_s.arg(view->selectedText()).arg(view->cursor().row);
    if (!m_window->isVisible())
        seen << u"closed"_s;
    QCOMPARE(seen.join(u' '), expected);
    QTRY_VERIFY(idle());
}

int main(int argc, char *argv[])
{
    launcherArgv[0] = argv[0];
    QApplication application(launcherArgc, launcherArgv);
    TestMainWindow test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_mainwindow.moc"
