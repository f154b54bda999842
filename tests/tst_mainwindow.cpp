#include "mainwindow/mainwindow.h"
#include "modalanswerer.h"
#include "settings/dialogsettings.h"
#include "settings/settingskeys.h"
#include "testsupport.h"

#include <QComboBox>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QMovie>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QTabWidget>
#include <QToolButton>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {
const QString Found = QStringLiteral("<font color='green'>Found!</font>");
const QString NotFound = QStringLiteral("<font color='red'>Not found!</font>");
const QString NotAvailable
        = QStringLiteral("<font color='orange'>Not available on this platform</font>");
const QStringList LabelNames = { QStringLiteral("labelMoltra"),  QStringLiteral("labelEvalix"),
                                 QStringLiteral("labelPmoltra"), QStringLiteral("labelPevalix"),
                                 QStringLiteral("labelZetrel"),  QStringLiteral("labelMPPmoltra") };

QStringList labelTexts(QWidget *dialog)
{
    QStringList texts;
    for (const QString &name : LabelNames)
        texts << dialog->findChild<QLabel *>(name)->text();
    return texts;
}

QStringList expectedLabels(bool moltra, bool evalix)
{
    return { QStringLiteral("moltra: ") + (moltra ? Found : NotFound),
             QStringLiteral("evalix: ") + (evalix ? Found : NotFound),
             QStringLiteral("Pmoltra: ") + NotAvailable,
             QStringLiteral("Pevalix: ") + NotAvailable,
             QStringLiteral("zetrel: ") + NotAvailable,
             QStringLiteral("MPPmoltra: ") + NotAvailable };
}
}

class UrlRecorder : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;
public Q_SLOTS:
    void open(const QUrl &url) { urls << url; }
};

class TestMainWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void seeding_data();
    void seeding();
    void idleState();
    void resources_data();
    void resources();
    void startupQuestion_data();
    void startupQuestion();
    void dialogShowsDiscoveryBeforeItOpens();
    void dialogChosenDirectory_data();
    void dialogChosenDirectory();
    void discovery_data();
    void discovery();
    void openWorkdirNamesTheDeckFolder();

private:
    IsolatedEnvironment m_env;
};

void TestMainWindow::init()
{
    m_env.clearSettings();
}

void TestMainWindow::seeding_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<QString>("expected");
    const QStringList programs
            = { QStringLiteral("moltra"), QStringLiteral("Pmoltra"), QStringLiteral("MPPmoltra"),
                QStringLiteral("evalix"), QStringLiteral("Pevalix"), QStringLiteral("zetrel") };
    for (const QString &program : programs) {
        const QString key = program + QStringLiteral("Binary");
        QTest::addRow("%s absent", qPrintable(key)) << key << QVariant() << program;
        QTest::addRow("%s empty", qPrintable(key)) << key << QVariant(QString()) << program;
        QTest::addRow("%s edited", qPrintable(key))
                << key << QVariant(QStringLiteral("bin/my-") + program)
                << QStringLiteral("bin/my-") + program;
    }
}

void TestMainWindow::seeding()
{
    QFETCH(QString, key);
    QFETCH(QVariant, stored);
    QFETCH(QString, expected);
    if (stored.isValid())
        storeSetting(key, stored);
    MainWindow window;
    QSettings settings(QStringLiteral("quillmoor"), QStringLiteral("MOLTRA Farbo Starter"));
    QCOMPARE(settings.value(key).toString(), expected);
    QCOMPARE(settings.allKeys().size(), 6);
    QVERIFY(!settings.contains(QStringLiteral("moltraDir")));
}

void TestMainWindow::idleState()
{
    MainWindow window;
    QCOMPARE(window.windowTitle(), QStringLiteral("MOLTRA Farbo Starter"));
    QCOMPARE(window.size(), QSize(809, 726));
    auto *tabs = window.findChild<QTabWidget *>(QStringLiteral("tabWidget"));
    QCOMPARE(tabs->count(), 1);
    QCOMPARE(tabs->tabText(0), QStringLiteral("Input"));
    for (const char *name : { "toolButtonStart", "toolButtonOpenWorkdir", "toolButtonUpload" })
        QVERIFY2(!window.findChild<QToolButton *>(QLatin1String(name))->isEnabled(), name);
    QVERIFY(window.findChild<QToolButton *>(QStringLiteral("toolButtonChoose"))->isEnabled());
    auto *cores = window.findChild<QSpinBox *>(QStringLiteral("spinBoxProcs"));
    QVERIFY(!cores->isEnabled());
    QCOMPARE(cores->value(), 1);
    QCOMPARE(cores->maximum(), 100000);
    QVERIFY(window.findChild<QLabel *>(QStringLiteral("labelLoader"))->isHidden());
    QCOMPARE(window.findChild<QToolButton *>(QStringLiteral("toolButtonStart"))->text(),
             QStringLiteral("Start"));
    auto *programs = window.findChild<QComboBox *>(QStringLiteral("comboBoxProgram"));
    QStringList items;
    for (int i = 0; i < programs->count(); ++i)
        items << programs->itemText(i);
    QCOMPARE(items,
             QStringList({ QStringLiteral("moltra"), QStringLiteral("Pmoltra"),
                           QStringLiteral("MPPmoltra"), QStringLiteral("evalix"),
                           QStringLiteral("Pevalix") }));
}

void TestMainWindow::resources_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QSize>("size");
    QTest::newRow("application icon") << u":/icon.png"_s << QSize(128, 128);
    QTest::newRow("start") << u":/play.png"_s << QSize(48, 48);
    QTest::newRow("stop") << u":/stop.png"_s << QSize(48, 48);
    QTest::newRow("busy indicator") << u":/loader.gif"_s << QSize(193, 192);
    QTest::newRow("logo") << u":/logo.png"_s << QSize(300, 43);
    QTest::newRow("settings icon") << u":/icons/res/settings_32.png"_s << QSize(32, 32);
}

void TestMainWindow::resources()
{
    QFETCH(QString, path);
    QFETCH(QSize, size);
    MainWindow window;
    QImageReader reader(path);
    QVERIFY2(reader.canRead(), qPrintable(reader.errorString()));
    QCOMPARE(reader.size(), size);
    if (path.endsWith(u".gif"_s)) {
        auto *movie = window.findChild<QLabel *>(u"labelLoader"_s)->movie();
        QVERIFY(movie);
        QVERIFY(movie->frameCount() > 1);
        QCOMPARE(movie->state(), QMovie::NotRunning);
    }
}

void TestMainWindow::startupQuestion_data()
{
    QTest::addColumn<QString>("storedDir");
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("asked");
    QTest::addColumn<bool>("dialogOpened");
    QTest::newRow("no directory, Yes opens the dialog")
            << QString() << int(QMessageBox::Yes) << true << true;
    QTest::newRow("no directory, Cancel does nothing")
            << QString() << int(QMessageBox::Cancel) << true << false;
    QTest::newRow("directory stored, no question")
            << QStringLiteral("/opt/moltra") << 0 << false << false;
}

void TestMainWindow::startupQuestion()
{
    QFETCH(QString, storedDir);
    QFETCH(int, answer);
    QFETCH(bool, asked);
    QFETCH(bool, dialogOpened);
    if (!storedDir.isEmpty())
        storeSetting(QStringLiteral("moltraDir"), storedDir);
    ModalAnswerer answerer;
    bool sawDialog = false;
    if (asked)
        answerer.answer(QMessageBox::StandardButton(answer));
    if (dialogOpened) {
        answerer.act([&sawDialog](QWidget *widget) {
            sawDialog = qobject_cast<DialogSettings *>(widget) != nullptr;
            qobject_cast<QDialog *>(widget)->reject();
        });
    }
    MainWindow window;
    // Nothing is asked before the window is on screen.
    QTest::qWait(50);
    QVERIFY(answerer.shown.isEmpty());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTRY_COMPARE(answerer.pending(), 0);
    QTRY_COMPARE(sawDialog, dialogOpened);
    QTest::qWait(100);
    QCOMPARE(answerer.shown.size(), asked ? 1 : 0);
    if (asked) {
        const ModalAnswerer::Shown &box = answerer.shown.first();
        QCOMPARE(box.icon, QMessageBox::Warning);
        QCOMPARE(box.title, QStringLiteral("MOLTRA Farbo Starter"));
        QCOMPARE(box.text,
                 QStringLiteral("Do you want to configure MOLTRA installation directory now?"));
        QCOMPARE(box.buttons, QMessageBox::Yes | QMessageBox::Cancel);
    }
    QCOMPARE(answerer.unexpected, 0);
    QCOMPARE(storedSetting(QStringLiteral("moltraDir")), storedDir);
}

void TestMainWindow::dialogShowsDiscoveryBeforeItOpens()
{
    QTemporaryDir package;
    writeScript(package.path() + QStringLiteral("/moltra"), "exit 0\n");
    storeSetting(QStringLiteral("moltraDir"), package.path());
    MainWindow window;
    ModalAnswerer answerer;
    QString field;
    QStringList labels;
    answerer.act([&](QWidget *widget) {
        field = widget->findChild<QLineEdit *>(QStringLiteral("editMoltraDir"))->text();
        labels = labelTexts(widget);
        qobject_cast<QDialog *>(widget)->reject();
    });
    window.changeSettings();
    QCOMPARE(field, package.path());
    QCOMPARE(labels, expectedLabels(true, false));
    QCOMPARE(answerer.unexpected, 0);
}

void TestMainWindow::dialogChosenDirectory_data()
{
    QTest::addColumn<int>("button");
    QTest::newRow("OK stores the chosen directory") << int(QDialogButtonBox::Ok);
    QTest::newRow("Cancel stores nothing") << int(QDialogButtonBox::Cancel);
}

void TestMainWindow::dialogChosenDirectory()
{
    QFETCH(int, button);
    QTemporaryDir package;
    writeScript(package.path() + QStringLiteral("/moltra"), "exit 0\n");
    writeScript(package.path() + QStringLiteral("/evalix"), "exit 0\n");
    QTemporaryDir stored;
    storeSetting(QStringLiteral("moltraDir"), stored.path());
    MainWindow window;
    ModalAnswerer answerer;
    QStringList before;
    QStringList after;
    QString chooserStart;
    answerer.act([&](QWidget *widget) {
        before = labelTexts(widget);
        widget->findChild<QPushButton *>(QStringLiteral("buttonChangeMoltraDir"))->click();
        after = labelTexts(widget);
        widget->findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"))
                ->button(QDialogButtonBox::StandardButton(button))
                ->click();
    });
    answerer.act([&](QWidget *widget) {
        auto *chooser = qobject_cast<QFileDialog *>(widget);
        chooserStart = chooser->directory().absolutePath();
        ModalAnswerer::selectInFileDialog(chooser, package.path());
    });
    window.changeSettings();
    QCOMPARE(answerer.unexpected, 0);
    QCOMPARE(chooserStart, stored.path());
    QCOMPARE(before, expectedLabels(false, false));
    QCOMPARE(after, expectedLabels(true, true));
    QCOMPARE(storedSetting(QStringLiteral("moltraDir")),
             button == QDialogButtonBox::Ok ? package.path() : stored.path());
}

void TestMainWindow::discovery_data()
{
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<bool>("trailingSlash");
    QTest::addColumn<bool>("moltraFound");
    QTest::addColumn<bool>("evalixFound");
    QTest::newRow("both found") << QStringList{ u"moltra"_s, u"evalix"_s } << false << true << true;
    QTest::newRow("none found") << QStringList{ u"Pmoltra"_s, u"zetrel"_s } << false << false
                                << false;
    QTest::newRow("a directory named like the executable counts")
            << QStringList{ u"evalix/"_s } << false << false << true;
    QTest::newRow("trailing slash") << QStringList{ u"moltra"_s } << true << true << false;
}

void TestMainWindow::discovery()
{
    QFETCH(QStringList, entries);
    QFETCH(bool, trailingSlash);
    QFETCH(bool, moltraFound);
    QFETCH(bool, evalixFound);
    QTemporaryDir package;
    for (const QString &entry : entries) {
        if (entry.endsWith(QLatin1Char('/')))
            QDir(package.path()).mkpath(entry);
        else
            writeScript(package.path() + QLatin1Char('/') + entry, "exit 0\n");
    }
    QSettings settings(QStringLiteral("quillmoor"), QStringLiteral("MOLTRA Farbo Starter"));
    SettingsKeys::seedExecutableNames(settings);
    DialogSettings dialog(nullptr, &settings);
    dialog.setDirectory(package.path() + (trailingSlash ? QStringLiteral("/") : QString()));
    QCOMPARE(labelTexts(&dialog), expectedLabels(moltraFound, evalixFound));
}

void TestMainWindow::openWorkdirNamesTheDeckFolder()
{
    QTemporaryDir root;
    const QString folder = root.path() + QStringLiteral("/my jobs/MgO #1");
    const QString deck = writeFile(folder + QStringLiteral("/mgo.d12"), "MgO\nEND\n");
    UrlRecorder recorder;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &recorder, "open");
    MainWindow window;
    window.loadInputFile(deck);
    window.findChild<QToolButton *>(QStringLiteral("toolButtonOpenWorkdir"))->click();
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    QCOMPARE(recorder.urls.size(), 1);
    const QUrl url = recorder.urls.first();
    QVERIFY(url.isValid());
    QCOMPARE(url.scheme(), QStringLiteral("file"));
    QCOMPARE(url.toLocalFile(), folder);
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
