// SPDX-License-Identifier: GPL-3.0-or-later
#include "httpsserver.h"
#include "mainwindow/mainwindow.h"
#include "modalanswerer.h"
#include "settings/dialogsettings.h"
#include "testsupport.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QToolButton>
#include <QtTest>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

class TestMainWindow : public QObject
{
    Q_OBJECT

public Q_SLOTS:
    void openUrl(const QUrl &url) { m_urls << url; }

private Q_SLOTS:
    void init();
    void cleanup();
    void startup_data();
    void startup();
    void settingsDialog_data();
    void settingsDialog();
    void refusedChoicesChangeNothing_data();
    void refusedChoicesChangeNothing();
    void failedImportKeepsThePortalJob();
    void outcomes_data();
    void outcomes();
    void questionsFollowTheJob_data();
    void questionsFollowTheJob();
    void unsettledFolderAsks_data();
    void unsettledFolderAsks();
    void uploadCancelled();
    void parallelJobs_data();
    void parallelJobs();
    void stopConfirmedWhileStarting();
    void closeWhileRunningEndsTheGroup_data();
    void closeWhileRunningEndsTheGroup();
    void folderUrl();
    void commandLine_data();
    void commandLine();

private:
    template <typename T = QToolButton> T *child(const char *name) const
    {
        return m_window->findChild<T *>(QLatin1String(name));
    }
    // Picks the file in the file dialog; a message box that follows is answered with OK.
    void choose(const QString &path, bool answerMessage = false);
    QString deck() { return writeFile(m_dir + u"/mgo.d12"_s, "deck\n"); }
    QString jobFile(const QString &title);
    // Imports a portal job for moltra; with run, runs it once.
    QString portalJob(const QString &title, bool run);
    void standIn(const QByteArray &body);
    // The status line, with its elapsed time written as "m:ss".
    QString status() const
    {
        return child<QLabel>("labelStatus")
                ->text()
                .replace(QRegularExpression(u"\\d+:\\d\\d"_s), u"m:ss"_s);
    }
    QString firstMessage() const { return m_answerer->shown.value(0).text; }

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
    clearSettings();
    storeSetting(u"moltraDir"_s, m_dir + u"/package"_s);
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

void TestMainWindow::choose(const QString &path, bool answerMessage)
{
    m_answerer->chooseFile(path);
    if (answerMessage)
        m_answerer->answer(QMessageBox::Ok);
    child("toolButtonChoose")->click();
}

void TestMainWindow::standIn(const QByteArray &body)
{
    writeScript(m_dir + u"/package/moltra"_s,
                "echo $$ > '" + QFile::encodeName(m_dir) + "/moltra.pid'\n" + body);
}

void TestMainWindow::startup_data()
{
    QTest::addColumn<QString>("storedDir");
    QTest::addColumn<int>("answer");
    QTest::newRow("no directory, Yes opens the dialog") << QString() << int(QMessageBox::Yes);
    QTest::newRow("no directory, Cancel") << QString() << int(QMessageBox::Cancel);
    QTest::newRow("directory stored, no question") << u"/opt/moltra"_s << 0;
}

void TestMainWindow::startup()
{
    QFETCH(QString, storedDir);
    QFETCH(int, answer);
    m_window.reset();
    clearSettings();
    storeSetting(u"moltraDir"_s, storedDir);
    storeSetting(u"moltraBinary"_s, u"/opt/bin/moltra-7"_s);
    storeSetting(u"evalixBinary"_s, QString());
    if (storedDir.isEmpty())
        m_answerer->answer(QMessageBox::StandardButton(answer));
    bool sawDialog = false;
    if (answer == QMessageBox::Yes) {
        m_answerer->act([&sawDialog](QWidget *widget) {
            sawDialog = qobject_cast<DialogSettings *>(widget) != nullptr;
            widget->close();
        });
    }
    m_window = std::make_unique<MainWindow>();
    QCOMPARE(storedSetting(u"moltraBinary"_s), u"/opt/bin/moltra-7"_s);
    QCOMPARE(storedSetting(u"evalixBinary"_s), u"evalix"_s);
    QCOMPARE(storedSetting(u"zetrelBinary"_s), u"zetrel"_s);
    QTest::qWait(50);
    QVERIFY(m_answerer->shown.isEmpty());
    // Shown, hidden and shown again: the question comes once.
    for (int show = 0; show < 2; ++show) {
        m_window->show();
        QTest::qWait(200);
        m_window->hide();
    }
    QCOMPARE(sawDialog, answer == QMessageBox::Yes);
    QCOMPARE(m_answerer->shown.size(), storedDir.isEmpty() ? 1 : 0);
    if (storedDir.isEmpty())
        QCOMPARE(firstMessage(), u"Do you want to configure MOLTRA installation directory now?"_s);
    QCOMPARE(storedSetting(u"moltraDir"_s), storedDir);
}

void TestMainWindow::settingsDialog_data()
{
    QTest::addColumn<int>("button");
    QTest::newRow("OK stores the chosen directory") << int(QDialogButtonBox::Ok);
    QTest::newRow("Cancel stores nothing") << int(QDialogButtonBox::Cancel);
}

void TestMainWindow::settingsDialog()
{
    QFETCH(int, button);
    const QString chosen = m_dir + u"/other package"_s;
    writeScript(chosen + u"/evalix"_s, "exit 0\n");
    writeScript(chosen + u"/Pmoltra"_s, "exit 0\n");
    QStringList labels;
    const auto read = [&labels](QWidget *dialog) {
        for (const char *name :
             { "labelMoltra", "labelEvalix", "labelPmoltra", "labelZetrel", "labelMpiLauncher" })
            labels << dialog->findChild<QLabel *>(QLatin1String(name))->text().section(u'>', 1, 1);
    };
    m_answerer->act([&](QWidget *dialog) {
        read(dialog);
        m_answerer->chooseFile(chosen);
        dialog->findChild<QPushButton *>(u"buttonChangeMoltraDir"_s)->click();
        dialog->findChild<QLineEdit *>(u"editMpiLauncher"_s)->setText(u"sh"_s);
        dialog->findChild<QLineEdit *>(u"editMpiArguments"_s)->setText(u"--oversubscribe"_s);
        read(dialog);
        dialog->findChild<QDialogButtonBox *>()
                ->button(QDialogButtonBox::StandardButton(button))
                ->click();
    });
    m_window->changeSettings();
    const QString na = u"Not available on this platform</font"_s;
    const QString found = u"Found!</font"_s;
    const QString missing = u"Not found!</font"_s;
    QCOMPARE(labels,
             QStringList({ missing, missing, missing, na,
                           QFile::exists(u"/usr/bin/mpirun"_s) ? found : missing, missing, found,
                           found, na, found }));
    const bool ok = button == QDialogButtonBox::Ok;
    QCOMPARE(storedSetting(u"moltraDir"_s), ok ? chosen : m_dir + u"/package"_s);
    QCOMPARE(storedSetting(u"mpiLauncher"_s), ok ? u"sh"_s : QString());
    QCOMPARE(storedSetting(u"mpiArguments"_s), ok ? u"--oversubscribe"_s : QString());
}

void TestMainWindow::refusedChoicesChangeNothing_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("message");
    QTest::newRow("named pipe as deck") << u"pipe.d12"_s << u"is not a regular file"_s;
    QTest::newRow("named pipe as job file") << u"pipe.farbojob"_s << u"is not a regular file"_s;
    QTest::newRow("job file not JSON") << u"broken.farbojob"_s << u"Unable to create input file"_s;
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
    choose(deck());
    choose(refused, true);
    QVERIFY2(firstMessage().contains(message), qPrintable(firstMessage()));
    QCOMPARE(child<QLineEdit>("lineEditInputFile")->text(), u"mgo.d12"_s);
    QCOMPARE(child<QLineEdit>("lineEditWorkDir")->text(), m_dir);
    child("toolButtonStart")->click();
    QTRY_COMPARE(child("toolButtonStart")->text(), u"Start"_s);
    QCOMPARE(readFile(m_dir + u"/mgo.out"_s), QByteArray("deck\n"));
}

void TestMainWindow::failedImportKeepsThePortalJob()
{
    standIn("cat\necho result > fort.9\n");
    QJsonObject job{ { u"input_file_name"_s, u"a.d12"_s },
                     { u"input_file_content"_s, u"A\n"_s },
                     { u"title"_s, u"Job A"_s },
                     { u"program"_s, 1 },
                     { u"ncpus"_s, 4 },
                     { u"user_id"_s, 5 },
                     { u"user_token"_s, u"token A"_s },
                     { u"job_id"_s, 11 } };
    choose(writeFile(m_dir + u"/a.farbojob"_s, QJsonDocument(job).toJson()));
    QCOMPARE(child<QComboBox>("comboBoxProgram")->currentText(), u"Pmoltra"_s);
    QCOMPARE(child<QSpinBox>("spinBoxProcs")->value(), 4);
    const QString folder = child<QLineEdit>("lineEditWorkDir")->text();

    job.insert(u"input_file_name"_s, u"../b.d12"_s);
    job.insert(u"user_token"_s, u"token B"_s);
    choose(writeFile(m_dir + u"/b.farbojob"_s, QJsonDocument(job).toJson()), true);
    QCOMPARE(firstMessage(), u"Unable to create input file"_s);
    QCOMPARE(child<QLineEdit>("lineEditTitle")->text(), u"Job A"_s);

    child("toolButtonStart")->click();
    QTRY_COMPARE(child("toolButtonStart")->text(), u"Start"_s);
    QCOMPARE(readFile(folder + u"/a.out"_s), QByteArray("A\n"));
    HttpsServer server;
    m_window->setUploadUrl(QUrl(server.url()));
    m_answerer->answer(QMessageBox::Ok);
    child("toolButtonUpload")->click();
    QTRY_COMPARE(m_answerer->shown.size(), 2);
    QCOMPARE(m_answerer->shown.last().text, u"Successfully uploaded job files to Farbo server"_s);
    FormItems items;
    QVERIFY(decodeForm(server.requests.value(0).body, &items));
    QCOMPARE(items.mid(0, 3),
             FormItems({ { "user_id", "5" }, { "user_token", "token A" }, { "job_id", "11" } }));
    QCOMPARE(items.size(), 3 + 2 * 3);
    m_window.reset();
    QVERIFY(!QFile::exists(folder));
}

void TestMainWindow::outcomes_data()
{
    QTest::addColumn<QByteArray>("moltra"); // empty: no such executable
    QTest::addColumn<QString>("expectedStatus");
    QTest::addColumn<QString>("message");
    const QByteArray lines = "for i in $(seq 300); do echo line $i; done\n";
    QTest::newRow("finished") << lines << u"Finished in m:ss"_s << QString();
    QTest::newRow("exit code 3") << lines + "echo broken >&2\nexit 3\n"
                                 << u"Failed after m:ss: moltra exited with code 3"_s
                                 << u"moltra (step 1 of 1) exited with code 3."_s;
    QTest::newRow("killed by SIGSEGV") << lines + "kill -SEGV $$\n"
                                       << u"Failed after m:ss: moltra was killed by SIGSEGV"_s
                                       << u"moltra (step 1 of 1) was killed by SIGSEGV."_s;
    QTest::newRow("failed start") << QByteArray() << u"Could not start moltra"_s
                                  << u"Unable to start the .d12 job: "_s;
}

void TestMainWindow::outcomes()
{
    QFETCH(QByteArray, moltra);
    QFETCH(QString, expectedStatus);
    QFETCH(QString, message);
    if (!moltra.isEmpty())
        standIn(moltra);
    choose(writeFile(m_dir + u"/mgo.d12"_s, "deck\n"));
    if (!message.isEmpty())
        m_answerer->answer(QMessageBox::Ok);
    auto *pane = child<QPlainTextEdit>("plainTextEditOutput");
    QString paneAtEnd;
    connect(m_window->findChild<JobRunner *>(), &JobRunner::jobEnded, this,
            [&] { paneAtEnd = pane->toPlainText(); });
    child("toolButtonStart")->click();
    QTRY_COMPARE(child("toolButtonStart")->text(), u"Start"_s);
    QTRY_COMPARE(m_answerer->pending(), 0);
    QCOMPARE(status(), expectedStatus);
    QVERIFY2(m_answerer->shown.size() == (message.isEmpty() ? 0 : 1), qPrintable(firstMessage()));
    QVERIFY2(firstMessage().startsWith(message), qPrintable(firstMessage()));
    QVERIFY(child<QLabel>("labelLoader")->isHidden());
    QVERIFY(child("toolButtonChoose")->isEnabled());
    QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
    if (message.contains(u"exit"_s))
        QVERIFY(firstMessage().endsWith(m_dir + u"/mgo.out.err:\n\nbroken"_s));
    if (!moltra.isEmpty()) {
        // The pane is complete once the window is idle, and its last line is in view.
        QVERIFY(paneAtEnd.endsWith(u"line 300\n"_s));
        QVERIFY(pane->verticalScrollBar()->maximum() > 0);
        QCOMPARE(pane->verticalScrollBar()->value(), pane->verticalScrollBar()->maximum());
    }
    // The status stays until the next file is loaded.
    choose(m_dir + u"/mgo.d12"_s);
    QCOMPARE(status(), QString());
}

void TestMainWindow::questionsFollowTheJob_data()
{
    QTest::addColumn<bool>("close");
    QTest::newRow("stop question") << false;
    QTest::newRow("close question") << true;
}

void TestMainWindow::questionsFollowTheJob()
{
    QFETCH(bool, close);
    standIn("sleep 1\n");
    choose(deck());
    child("toolButtonStart")->click();
    waitForPid(m_dir + u"/moltra.pid"_s);
    // The question stays open until the job ends by itself and closes it.
    m_answerer->act([](QWidget *) {});
    bool closed = false;
    if (close)
        closed = m_window->close();
    else
        child("toolButtonStart")->click();
    QCOMPARE(m_answerer->shown.size(), 1);
    QCOMPARE(child("toolButtonStart")->text(), u"Start"_s);
    QCOMPARE(status(), u"Finished in m:ss"_s);
    QCOMPARE(closed, close);
    QTest::qWait(100);
    QCOMPARE(child("toolButtonStart")->text(), u"Start"_s);
}

QString TestMainWindow::jobFile(const QString &title)
{
    const QJsonObject job{ { u"input_file_name"_s, u"a.d12"_s },
                           { u"input_file_content"_s, u"A\n"_s },
                           { u"title"_s, title },
                           { u"user_token"_s, u"token"_s } };
    return writeFile(m_dir + u'/' + title + u".farbojob"_s, QJsonDocument(job).toJson());
}

QString TestMainWindow::portalJob(const QString &title, bool run)
{
    choose(jobFile(title));
    if (run) {
        child("toolButtonStart")->click();
        if (!QTest::qWaitFor([this] { return child("toolButtonStart")->text() == u"Start"_s; }))
            qWarning("the job did not end");
    }
    return child<QLineEdit>("lineEditWorkDir")->text();
}

void TestMainWindow::unsettledFolderAsks_data()
{
    QTest::addColumn<bool>("close");
    QTest::addColumn<QString>("answer"); // empty: no question
    QTest::addColumn<bool>("ran");
    QTest::addColumn<bool>("uploaded");
    for (const bool close : { true, false }) {
        const char *what = close ? "close, " : "import, ";
        for (const QString &answer : { u"Keep folder"_s, u"Discard"_s, u"Cancel"_s })
            QTest::addRow("%s%s", what, qPrintable(answer)) << close << answer << true << false;
        QTest::addRow("%snothing ran", what) << close << QString() << false << false;
        QTest::addRow("%suploaded", what) << close << QString() << true << true;
    }
}

void TestMainWindow::unsettledFolderAsks()
{
    QFETCH(bool, close);
    QFETCH(QString, answer);
    QFETCH(bool, ran);
    QFETCH(bool, uploaded);
    standIn("cat\n");
    const QString folder = portalJob(u"A"_s, ran);
    HttpsServer server;
    if (uploaded) {
        m_window->setUploadUrl(QUrl(server.url()));
        m_answerer->answer(QMessageBox::Ok);
        child("toolButtonUpload")->click();
        QTRY_COMPARE(status(), u"Uploaded to Farbo"_s);
    }
    const qsizetype before = m_answerer->shown.size();
    if (!close)
        m_answerer->chooseFile(jobFile(u"B"_s));
    if (!answer.isEmpty()) {
        m_answerer->act([answer](QWidget *box) {
            for (QAbstractButton *button : box->findChildren<QAbstractButton *>()) {
                if (button->text().remove(u'&') == answer)
                    button->click();
            }
        });
    }
    if (answer == u"Keep folder"_s)
        m_answerer->answer(QMessageBox::Ok);
    bool closed = false;
    if (close)
        closed = m_window->close();
    else
        child("toolButtonChoose")->click();
    QCOMPARE(m_answerer->shown.size() - before,
             answer.isEmpty()                     ? 0
                     : answer == u"Keep folder"_s ? 2
                                                  : 1);
    if (!answer.isEmpty()) {
        QCOMPARE(m_answerer->shown.at(before).text,
                 u"The job folder %1 holds results that have not been uploaded."_s.arg(folder));
    }
    if (answer == u"Keep folder"_s)
        QCOMPARE(m_answerer->shown.last().text, u"The job folder is kept: "_s + folder);
    const bool cancelled = answer == u"Cancel"_s;
    QCOMPARE(closed, close && !cancelled);
    QCOMPARE(child<QLineEdit>("lineEditTitle")->text(), close || cancelled ? u"A"_s : u"B"_s);
    m_window.reset();
    QCOMPARE(QFile::exists(folder), answer == u"Keep folder"_s);
}

void TestMainWindow::uploadCancelled()
{
    standIn("cat\n");
    portalJob(u"A"_s, true);
    HttpsServer server;
    server.answering = false;
    m_window->setUploadUrl(QUrl(server.url()));
    child("toolButtonUpload")->click();
    QVERIFY(!child("toolButtonUpload")->isEnabled());
    QTRY_COMPARE(server.requests.size(), 1);
    m_window->findChild<QProgressDialog *>()->findChild<QPushButton *>()->click();
    QTRY_COMPARE(status(), u"Upload cancelled"_s);
    QVERIFY(m_answerer->shown.isEmpty());
    QVERIFY(child("toolButtonUpload")->isEnabled());
    // Results still being written are not sent.
    child("toolButtonStart")->click();
    QVERIFY(!child("toolButtonUpload")->isEnabled());
    QTRY_VERIFY(child("toolButtonUpload")->isEnabled());
    // Results not uploaded: closing asks.
    m_answerer->answer(QMessageBox::Cancel);
    QVERIFY(!m_window->close());
}

void TestMainWindow::parallelJobs_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<int>("cores");
    QTest::addColumn<QString>("launcher");
    QTest::addColumn<QString>("expectedStatus");
    QTest::addColumn<QString>("output"); // where " RUNNING ON 2 PROCESSES" must stand
    const QString mpirun = u"mpirun"_s;
    QTest::newRow("Pmoltra on 2 cores")
            << u"Pmoltra"_s << 2 << mpirun << u"Finished in m:ss"_s << u"mgo.out"_s;
    QTest::newRow("Pevalix runs Pmoltra first")
            << u"Pevalix"_s << 2 << mpirun << u"Finished in m:ss"_s << u"mgo.outp.out mgo.outp"_s;
    QTest::newRow("MPPmoltra not installed")
            << u"MPPmoltra"_s << 2 << mpirun
            << u"MPPmoltra is not installed: running moltra on one core, m:ss"_s << QString();
    QTest::newRow("launcher missing") << u"Pmoltra"_s << 2 << u"no-such-mpirun"_s
                                      << u"Could not start no-such-mpirun"_s << QString();
    QTest::newRow("no cores") << u"Pmoltra"_s << 0 << mpirun << QString() << QString();
    QTest::newRow("stopped") << u"Pmoltra"_s << 2 << mpirun << u"Stopped after m:ss"_s << QString();
}

void TestMainWindow::parallelJobs()
{
    QFETCH(QString, program);
    QFETCH(int, cores);
    QFETCH(QString, launcher);
    QFETCH(QString, expectedStatus);
    QFETCH(QString, output);
    const QString package = m_dir + u"/package/"_s;
    for (const QString &name : { u"moltra"_s, u"evalix"_s, u"Pmoltra"_s, u"Pevalix"_s })
        QVERIFY(QFile::link(QStringLiteral(MOLTRA_DEMO_DIR "/") + name, package + name));
    storeSetting(u"mpiLauncher"_s, launcher);
    storeSetting(u"mpiArguments"_s, u"--allow-run-as-root --oversubscribe"_s);
    const QString deck = program.endsWith(u"evalix"_s) ? u"/mgo.d3"_s : u"/mgo.d12"_s;
    writeFile(m_dir + u"/mgo.d12"_s, "MgO\nEND\n");
    choose(writeFile(m_dir + deck, "MgO bands\nEND\n"));
    child<QComboBox>("comboBoxProgram")->setCurrentText(program);
    child<QSpinBox>("spinBoxProcs")->setValue(cores);
    const bool stop = expectedStatus.startsWith(u"Stopped"_s);
    if (launcher != u"mpirun"_s || cores < 1)
        m_answerer->answer(QMessageBox::Ok);
    child("toolButtonStart")->click();
    if (expectedStatus.contains(u"not installed"_s)) {
        QTRY_COMPARE(status(), expectedStatus);
        expectedStatus = u"Finished in m:ss"_s;
    }
    // The ranks are the processes that run the parallel build from the package folder.
    const auto ranks = [package, program] {
        QList<qint64> pids;
        for (const QString &pid : QDir(u"/proc"_s).entryList(QDir::Dirs)) {
            const QByteArray line = readFile(u"/proc/"_s + pid + u"/cmdline"_s);
            if (line.startsWith(QFile::encodeName(package + program) + '\0')
                && processAlive(pid.toLongLong()))
                pids << pid.toLongLong();
        }
        return pids;
    };
    if (stop) {
        QTRY_COMPARE(ranks().size(), 2);
        QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::BusyCursor);
        m_answerer->answer(QMessageBox::Cancel);
        child("toolButtonStart")->click();
        QCOMPARE(firstMessage(), u"Do you really want to stop the running job?"_s);
        QCOMPARE(child("toolButtonStart")->text(), u"Stop"_s);
        m_answerer->answer(QMessageBox::Yes);
        child("toolButtonStart")->click();
        QCOMPARE(child("toolButtonStart")->text(), u"Start"_s);
        QTRY_COMPARE_WITH_TIMEOUT(ranks().size(), 0, JobRunner::StopGraceMs + 2000);
    }
    QTRY_COMPARE_WITH_TIMEOUT(child("toolButtonStart")->text(), u"Start"_s, 30000);
    QCOMPARE(status(), expectedStatus);
    for (const QString &name : output.split(u' ', Qt::SkipEmptyParts))
        QVERIFY2(readFile(m_dir + u'/' + name).contains(" RUNNING ON 2 PROCESSES\n"),
                 qPrintable(name));
    if (launcher != u"mpirun"_s)
        QVERIFY(firstMessage().endsWith(u"no-such-mpirun is not an executable file"_s));
    if (cores < 1)
        QCOMPARE(firstMessage(), u"Pmoltra needs at least one core. Choose the number of cores."_s);
}

void TestMainWindow::stopConfirmedWhileStarting()
{
    standIn("echo ran\n");
    choose(deck());
    // This click waits in the event queue and arrives while the start lets events run.
    QTimer::singleShot(0, child("toolButtonStart"), &QToolButton::click);
    m_answerer->answer(QMessageBox::Yes);
    m_window->startJob();
    QCOMPARE(child("toolButtonStart")->text(), u"Start"_s);
    QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
    QTest::qWait(300);
    QVERIFY(!QFile::exists(m_dir + u"/moltra.pid"_s));
}

void TestMainWindow::closeWhileRunningEndsTheGroup_data()
{
    QTest::addColumn<int>("answer");
    QTest::newRow("Cancel keeps the job") << int(QMessageBox::Cancel);
    QTest::newRow("Yes closes and ends the group") << int(QMessageBox::Yes);
}

void TestMainWindow::closeWhileRunningEndsTheGroup()
{
    QFETCH(int, answer);
    standIn("trap '' TERM\nsleep 60 &\necho $! > child.pid\nwait\n");
    choose(deck());
    child("toolButtonStart")->click();
    const qint64 leader = waitForPid(m_dir + u"/moltra.pid"_s);
    const qint64 child = waitForPid(m_dir + u"/child.pid"_s);
    m_answerer->answer(QMessageBox::StandardButton(answer));
    const bool closed = m_window->close();
    QCOMPARE(closed, answer == QMessageBox::Yes);
    if (closed)
        m_window.reset();
    QCOMPARE(processAlive(leader), !closed);
    QTRY_COMPARE(processAlive(child), !closed);
}

void TestMainWindow::folderUrl()
{
    QDesktopServices::setUrlHandler(u"file"_s, this, "openUrl");
    const QString folder = m_dir + u"/my jobs/MgO #1"_s;
    choose(writeFile(folder + u"/mgo.d3"_s, "deck\n"));
    child("toolButtonOpenWorkdir")->click();
    QDesktopServices::unsetUrlHandler(u"file"_s);
    QCOMPARE(m_urls, QList<QUrl>{ QUrl::fromLocalFile(folder) });
    // Without a file manager the folder is named in a message.
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", "");
    m_answerer->answer(QMessageBox::Ok);
    child("toolButtonOpenWorkdir")->click();
    qputenv("PATH", path);
    QCOMPARE(firstMessage(), u"Unable to open the folder "_s + folder);
}

// The launcher reads its command line from the application; the tests set it, apart from
// the test runner's own arguments.
static int launcherArgc = 1;
static char *launcherArgv[3] = { nullptr, nullptr, nullptr };

void TestMainWindow::commandLine_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("title");
    QTest::newRow("deck") << u"mgo.d12"_s << u"deck\n"_s;
    QTest::newRow("job file") << u"a.farbojob"_s << u"From the portal"_s;
    QTest::newRow("job file of another suffix") << u"a.json"_s << u"From the portal"_s;
}

void TestMainWindow::commandLine()
{
    QFETCH(QString, name);
    QFETCH(QString, title);
    const QString path = m_dir + u'/' + name;
    if (name == u"mgo.d12"_s)
        deck();
    else
        writeFile(path,
                  QJsonDocument(QJsonObject{ { u"input_file_name"_s, u"a.d12"_s },
                                             { u"title"_s, title },
                                             { u"user_token"_s, u"t"_s } })
                          .toJson());
    const QByteArray argument = QFile::encodeName(path);
    launcherArgv[1] = const_cast<char *>(argument.constData());
    launcherArgc = 2;
    m_window = std::make_unique<MainWindow>();
    launcherArgc = 1;
    QCOMPARE(child<QLineEdit>("lineEditTitle")->text(), title);
    QCOMPARE(child<QLineEdit>("lineEditWorkDir")->text() == m_dir, name == u"mgo.d12"_s);
    QVERIFY(child("toolButtonStart")->isEnabled());
}

int main(int argc, char *argv[])
{
    launcherArgv[0] = argv[0];
    QApplication application(launcherArgc, launcherArgv);
    TestMainWindow test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_mainwindow.moc"
