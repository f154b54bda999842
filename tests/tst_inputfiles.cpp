#include "mainwindow/mainwindow.h"
#include "modalanswerer.h"
#include "testsupport.h"

#include <QComboBox>
#include <QFileDialog>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSpinBox>
#include <QToolButton>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>

using namespace Qt::StringLiterals;

namespace {
const QStringList AllPrograms
        = { u"moltra"_s, u"Pmoltra"_s, u"MPPmoltra"_s, u"evalix"_s, u"Pevalix"_s };
const QStringList MoltraPrograms = { u"moltra"_s, u"Pmoltra"_s, u"MPPmoltra"_s };
const QStringList EvalixPrograms = { u"evalix"_s, u"Pevalix"_s };
}

class TestInputFiles : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void chooseDeck_data();
    void chooseDeck();
    void otherSuffixKeepsProgramList();
    void unreadableDeckKeepsShownText();
    void cancelledDialogForgetsOnlyTheFolder();
    void changeProgram_data();
    void changeProgram();
    void import_data();
    void import();
    void importWritesContents();
    void unsafeNamesWriteNothingOutside_data();
    void unsafeNamesWriteNothingOutside();
    void secondImportRemovesFirstFolder();
    void unopenableJobFileChangesNothing();
    void jobFileChosenInTheDialog();
    void choosingADeckForgetsThePortalJob();
    void failedWriteLeavesNoCutOffDeck();

private:
    template <typename T> T *child(const char *name)
    {
        return m_window->findChild<T *>(QLatin1String(name));
    }
    QStringList programs();
    QString chooseInDialog(const QString &path);
    QString writeJob(const QJsonObject &job, const QString &name = u"job.farbojob"_s);
    QStringList jobFolders() const;
    QString tempRoot() const { return m_env.path() + u"/tmp"_s; }

    IsolatedEnvironment m_env;
    QTemporaryDir m_files{ m_env.path() + u"/files-XXXXXX"_s };
    std::unique_ptr<MainWindow> m_window;
    std::unique_ptr<ModalAnswerer> m_answerer;
};

void TestInputFiles::init()
{
    m_env.clearSettings();
    m_window = std::make_unique<MainWindow>();
    m_answerer = std::make_unique<ModalAnswerer>();
}

void TestInputFiles::cleanup()
{
    QCOMPARE(m_answerer->unexpected, 0);
    m_window.reset();
    m_answerer.reset();
    QVERIFY(jobFolders().isEmpty());
}

QStringList TestInputFiles::programs()
{
    auto *combo = child<QComboBox>("comboBoxProgram");
    QStringList items;
    for (int i = 0; i < combo->count(); ++i)
        items << combo->itemText(i);
    return items;
}

QString TestInputFiles::chooseInDialog(const QString &path)
{
    QString startFolder;
    m_answerer->act([&](QWidget *widget) {
        auto *dialog = qobject_cast<QFileDialog *>(widget);
        startFolder = dialog->directory().absolutePath();
        if (path.isEmpty()) {
            dialog->reject();
            return;
        }
        ModalAnswerer::selectInFileDialog(dialog, path);
    });
    child<QToolButton>("toolButtonChoose")->click();
    return startFolder;
}

QString TestInputFiles::writeJob(const QJsonObject &job, const QString &name)
{
    return writeFile(m_files.path() + u'/' + name, QJsonDocument(job).toJson());
}

QStringList TestInputFiles::jobFolders() const
{
    return QDir(tempRoot()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
}

void TestInputFiles::chooseDeck_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("programs");

    QTest::newRow(".d12 deck") << u"mgo.d12"_s << QByteArray("MgO bulk\nCRYSTAL\nEND\n")
                               << u"MgO bulk\n"_s << u"MgO bulk\nCRYSTAL\nEND\n"_s
                               << MoltraPrograms;
    QTest::newRow(".d3 deck") << u"mgo.d3"_s << QByteArray("BAND\nEND\n") << u"BAND\n"_s
                              << u"BAND\nEND\n"_s << EvalixPrograms;
    QTest::newRow("suffix after the last dot") << u"mgo.scf.d3"_s << QByteArray("BAND\n")
                                               << u"BAND\n"_s << u"BAND\n"_s << EvalixPrograms;
    QTest::newRow("upper-case suffix is not a deck kind")
            << u"MGO.D12"_s << QByteArray("MgO\n") << u"MgO\n"_s << u"MgO\n"_s << AllPrograms;
    QTest::newRow("empty deck") << u"empty.d12"_s << QByteArray() << QString() << QString()
                                << MoltraPrograms;
    QTest::newRow("one line without line feed")
            << u"one.d12"_s << QByteArray("only line") << u"only line"_s << u"only line"_s
            << MoltraPrograms;
    QTest::newRow("CR LF read as LF") << u"dos.d12"_s << QByteArray("first\r\nsecond\r\n")
                                      << u"first\n"_s << u"first\nsecond\n"_s << MoltraPrograms;
    QTest::newRow("invalid UTF-8 shown as replacement")
            << u"bad.d3"_s << QByteArray("caf\xc3\xa9 \xff!\n") << u"caf\u00e9 \ufffd!\n"_s
            << u"caf\u00e9 \ufffd!\n"_s << EvalixPrograms;
}

void TestInputFiles::chooseDeck()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(QString, title);
    QFETCH(QString, text);
    QFETCH(QStringList, programs);
    const QString folder = m_files.path() + u"/decks"_s;
    const QString deck = writeFile(folder + u'/' + name, content);

    chooseInDialog(deck);

    QCOMPARE(child<QLineEdit>("lineEditInputFile")->text(), name);
    QCOMPARE(child<QLineEdit>("lineEditTitle")->text(), title);
    QCOMPARE(child<QLineEdit>("lineEditWorkDir")->text(), folder);
    QCOMPARE(child<QPlainTextEdit>("plainTextEditInput")->toPlainText(), text);
    QCOMPARE(this->programs(), programs);
    QCOMPARE(child<QComboBox>("comboBoxProgram")->currentIndex(), 0);
    QVERIFY(!child<QSpinBox>("spinBoxProcs")->isEnabled());
    QVERIFY(child<QToolButton>("toolButtonStart")->isEnabled());
    QVERIFY(child<QToolButton>("toolButtonOpenWorkdir")->isEnabled());
    QVERIFY(!child<QToolButton>("toolButtonUpload")->isEnabled());
    QCOMPARE(m_window->workdirUrl().toLocalFile(), folder);
}

void TestInputFiles::otherSuffixKeepsProgramList()
{
    chooseInDialog(writeFile(m_files.path() + u"/mgo.d3"_s, "BAND\n"));
    chooseInDialog(writeFile(m_files.path() + u"/notes.txt"_s, "Some notes\n"));
    QCOMPARE(child<QLineEdit>("lineEditInputFile")->text(), u"notes.txt"_s);
    QCOMPARE(child<QPlainTextEdit>("plainTextEditInput")->toPlainText(), u"Some notes\n"_s);
    QCOMPARE(programs(), EvalixPrograms);
}

void TestInputFiles::unreadableDeckKeepsShownText()
{
    const QString folder = m_files.path();
    chooseInDialog(writeFile(folder + u"/mgo.d12"_s, "MgO\nEND\n"));
    m_window->loadInputFile(folder + u"/missing.d3"_s);
    QCOMPARE(child<QLineEdit>("lineEditInputFile")->text(), u"missing.d3"_s);
    QCOMPARE(child<QLineEdit>("lineEditTitle")->text(), u"MgO\n"_s);
    QCOMPARE(child<QPlainTextEdit>("plainTextEditInput")->toPlainText(), u"MgO\nEND\n"_s);
    QCOMPARE(programs(), EvalixPrograms);
    QVERIFY(child<QToolButton>("toolButtonStart")->isEnabled());
    QVERIFY(m_answerer->shown.isEmpty());
}

void TestInputFiles::cancelledDialogForgetsOnlyTheFolder()
{
    const QString folder = m_files.path() + u"/decks"_s;
    chooseInDialog(writeFile(folder + u"/mgo.d12"_s, "MgO\nEND\n"));
    QCOMPARE(chooseInDialog(QString()), folder);
    QCOMPARE(child<QLineEdit>("lineEditInputFile")->text(), u"mgo.d12"_s);
    QCOMPARE(child<QLineEdit>("lineEditWorkDir")->text(), folder);
    QCOMPARE(programs(), MoltraPrograms);
}

void TestInputFiles::changeProgram_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<bool>("cores");
    QTest::newRow("moltra") << u"moltra"_s << false;
    QTest::newRow("Pmoltra") << u"Pmoltra"_s << true;
    QTest::newRow("MPPmoltra") << u"MPPmoltra"_s << true;
    QTest::newRow("evalix") << u"evalix"_s << false;
    QTest::newRow("Pevalix") << u"Pevalix"_s << true;
    QTest::newRow("zetrel") << u"zetrel"_s << false;
    QTest::newRow("lower-case pmoltra") << u"pmoltra"_s << false;
    QTest::newRow("empty") << QString() << false;
}

void TestInputFiles::changeProgram()
{
    QFETCH(QString, program);
    QFETCH(bool, cores);
    auto *spin = child<QSpinBox>("spinBoxProcs");
    spin->setValue(6);
    m_window->changeProgram(u"Pmoltra"_s);
    m_window->changeProgram(program);
    QCOMPARE(spin->isEnabled(), cores);
    QCOMPARE(spin->value(), 6);
}

void TestInputFiles::import_data()
{
    QTest::addColumn<QJsonObject>("job");
    QTest::addColumn<QString>("program");
    QTest::addColumn<bool>("coresEnabled");
    QTest::addColumn<int>("cores");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QStringList>("messages");

    const QJsonObject d12{ { "input_file_name", "mgo.d12" },
                           { "input_file_content", "MgO deck\nEND\n" },
                           { "title", "Portal title" },
                           { "user_token", "token" },
                           { "ncpus", 8 } };
    const QJsonObject d3{ { "input_file_name", "mgo.d3" },
                          { "input_file_content", "BAND deck\nEND\n" },
                          { "title", "Portal title" },
                          { "user_token", "token" },
                          { "ncpus", 8 } };
    const auto with
            = [](QJsonObject job, std::initializer_list<std::pair<QString, QJsonValue>> values) {
                  for (const auto &[key, value] : values)
                      job.insert(key, value);
                  return job;
              };
    const auto without = [](QJsonObject job, const QString &key) {
        job.remove(key);
        return job;
    };
    const QString title = u"Portal title"_s;
    const QStringList deck12{ u"mgo.d12"_s };
    const QStringList deck3{ u"mgo.d3"_s };

    QTest::newRow("d12 program missing")
            << d12 << u"moltra"_s << false << 1 << title << deck12 << QStringList();
    QTest::newRow("d12 program 0") << with(d12, { { "program", 0 } }) << u"moltra"_s << false << 1
                                   << title << deck12 << QStringList();
    QTest::newRow("d12 program 1") << with(d12, { { "program", 1 } }) << u"Pmoltra"_s << true << 8
                                   << title << deck12 << QStringList();
    QTest::newRow("d12 program 2") << with(d12, { { "program", 2 } }) << u"MPPmoltra"_s << true << 8
                                   << title << deck12 << QStringList();
    QTest::newRow("d12 program 3") << with(d12, { { "program", 3 } }) << u"moltra"_s << false << 1
                                   << title << deck12 << QStringList();
    QTest::newRow("d12 program 7") << with(d12, { { "program", 7 } }) << u"moltra"_s << false << 1
                                   << title << deck12 << QStringList();
    QTest::newRow("d12 program as fraction") << with(d12, { { "program", 1.5 } }) << u"moltra"_s
                                             << false << 1 << title << deck12 << QStringList();
    QTest::newRow("d12 parallel without ncpus")
            << without(with(d12, { { "program", 1 } }), u"ncpus"_s) << u"Pmoltra"_s << true << 0
            << title << deck12 << QStringList();
    QTest::newRow("d12 ncpus over the range")
            << with(d12, { { "program", 1 }, { "ncpus", 500000 } }) << u"Pmoltra"_s << true
            << 100000 << title << deck12 << QStringList();
    QTest::newRow("d3 program 0") << with(d3, { { "program", 0 } }) << u"evalix"_s << false << 1
                                  << title << deck3 << QStringList();
    QTest::newRow("d3 program 1") << with(d3, { { "program", 1 } }) << u"evalix"_s << false << 1
                                  << title << deck3 << QStringList();
    QTest::newRow("d3 program 3") << with(d3, { { "program", 3 } }) << u"evalix"_s << false << 1
                                  << title << deck3 << QStringList();
    QTest::newRow("d3 program 4") << with(d3, { { "program", 4 } }) << u"evalix"_s << false << 1
                                  << title << deck3 << QStringList();
    QTest::newRow("empty token takes the deck's title")
            << with(d12, { { "user_token", "" } }) << u"moltra"_s << false << 1 << u"MgO deck\n"_s
            << deck12 << QStringList();
    QTest::newRow("flag_f34 true")
            << with(d12, { { "flag_f34", true }, { "f34_file_content", "F34\n" } }) << u"moltra"_s
            << false << 1 << title << QStringList{ u"fort.34"_s, u"mgo.d12"_s } << QStringList();
    QTest::newRow("flag_f34 true without content")
            << with(d12, { { "flag_f34", true } }) << u"moltra"_s << false << 1 << title
            << QStringList{ u"fort.34"_s, u"mgo.d12"_s } << QStringList();
    QTest::newRow("flag_f34 false")
            << with(d12, { { "flag_f34", false }, { "f34_file_content", "F34\n" } }) << u"moltra"_s
            << false << 1 << title << deck12 << QStringList();
    QTest::newRow("flag_f34 as 1")
            << with(d12, { { "flag_f34", 1 }, { "f34_file_content", "F34\n" } }) << u"moltra"_s
            << false << 1 << title << deck12 << QStringList();
    QTest::newRow("flag_d3 with d12 name")
            << with(d3,
                    { { "flag_d3", true },
                      { "d12_file_name", "mgo.d12" },
                      { "d12_file_content", "MgO\n" },
                      { "program", 4 } })
            << u"evalix"_s << false << 1 << title << QStringList{ u"mgo.d12"_s, u"mgo.d3"_s }
            << QStringList();
    QTest::newRow("flag_d3 without d12 name")
            << with(d3, { { "flag_d3", true }, { "flag_f34", true }, { "program", 1 } })
            << u"moltra"_s << false << 1 << QString() << QStringList{ u"fort.34"_s, u"mgo.d3"_s }
            << QStringList{ u"Unable to create d12 file"_s };
    QTest::newRow("no input file name")
            << without(d12, u"input_file_name"_s) << u"moltra"_s << false << 1 << QString()
            << QStringList() << QStringList{ u"Unable to create input file"_s };
}

void TestInputFiles::import()
{
    QFETCH(QJsonObject, job);
    QFETCH(QString, program);
    QFETCH(bool, coresEnabled);
    QFETCH(int, cores);
    QFETCH(QString, title);
    QFETCH(QStringList, files);
    QFETCH(QStringList, messages);
    for (int i = 0; i < messages.size(); ++i)
        m_answerer->answer(QMessageBox::Ok);

    m_window->importJobFile(writeJob(job));

    QStringList shownTexts;
    for (const auto &box : std::as_const(m_answerer->shown)) {
        QCOMPARE(box.icon, QMessageBox::Critical);
        QCOMPARE(box.title, u"MOLTRA Farbo Starter"_s);
        QCOMPARE(box.buttons, QMessageBox::Ok);
        shownTexts << box.text;
    }
    QCOMPARE(shownTexts, messages);
    const QStringList folders = jobFolders();
    QCOMPARE(folders.size(), 1);
    QVERIFY(folders.first().startsWith(u"farbojob_"_s));
    QCOMPARE(folders.first().size(), 15);
    const QString folder = tempRoot() + u'/' + folders.first();
    QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), files);
    QCOMPARE(child<QComboBox>("comboBoxProgram")->currentText(), program);
    QCOMPARE(child<QSpinBox>("spinBoxProcs")->isEnabled(), coresEnabled);
    QCOMPARE(child<QSpinBox>("spinBoxProcs")->value(), cores);
    QCOMPARE(child<QLineEdit>("lineEditTitle")->text(), title);
    if (messages.isEmpty()) {
        QCOMPARE(child<QLineEdit>("lineEditWorkDir")->text(), folder);
        QVERIFY(child<QToolButton>("toolButtonStart")->isEnabled());
    } else {
        QVERIFY(!child<QToolButton>("toolButtonStart")->isEnabled());
    }
}

void TestInputFiles::importWritesContents()
{
    const QString deck = u"MgO \u00e9\nEND\n"_s;
    m_window->importJobFile(writeJob({ { "input_file_name", "mgo.d3" },
                                       { "input_file_content", deck },
                                       { "flag_f34", true },
                                       { "f34_file_content", "34\n" },
                                       { "flag_d3", true },
                                       { "d12_file_name", "mgo.d12" },
                                       { "d12_file_content", "D12\n" },
                                       { "user_token", "t" } }));
    const QString folder = child<QLineEdit>("lineEditWorkDir")->text();
    QCOMPARE(readFile(folder + u"/mgo.d3"_s), deck.toUtf8());
    QCOMPARE(readFile(folder + u"/fort.34"_s), QByteArray("34\n"));
    QCOMPARE(readFile(folder + u"/mgo.d12"_s), QByteArray("D12\n"));
    QCOMPARE(child<QPlainTextEdit>("plainTextEditInput")->toPlainText(), deck);
    QCOMPARE(child<QLineEdit>("lineEditInputFile")->text(), u"mgo.d3"_s);
    // The job file stays where it is; the job folder holds no copy.
    QVERIFY(QFile::exists(m_files.path() + u"/job.farbojob"_s));
}

void TestInputFiles::unsafeNamesWriteNothingOutside_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("message");
    const QStringList names = { u"../evil.d12"_s, u"sub/evil.d12"_s, u"a\\evil.d12"_s, u".."_s,
                                u"."_s,           u"/evil.d12"_s };
    for (const QString &name : names) {
        QTest::addRow("input %s", qPrintable(name))
                << u"input_file_name"_s << name << u"Unable to create input file"_s;
        QTest::addRow("d12 %s", qPrintable(name))
                << u"d12_file_name"_s << name << u"Unable to create d12 file"_s;
    }
    QTest::addRow("input absolute") << u"input_file_name"_s << QString(tempRoot() + u"/evil.d12"_s)
                                    << u"Unable to create input file"_s;
}

void TestInputFiles::unsafeNamesWriteNothingOutside()
{
    QFETCH(QString, key);
    QFETCH(QString, name);
    QFETCH(QString, message);
    QJsonObject job{
        { "input_file_name", "mgo.d3" }, { "input_file_content", "BAND\n" }, { "flag_d3", true },
        { "d12_file_name", "mgo.d12" },  { "d12_file_content", "D12\n" },    { "user_token", "t" }
    };
    job.insert(key, name);
    m_answerer->answer(QMessageBox::Ok);
    m_window->importJobFile(writeJob(job));
    QCOMPARE(m_answerer->shown.size(), 1);
    QCOMPARE(m_answerer->shown.first().text, message);
    const QStringList folders = jobFolders();
    QCOMPARE(folders.size(), 1);
    QVERIFY(folders.first().startsWith(u"farbojob_"_s));
    const QDir folder(tempRoot() + u'/' + folders.first());
    QCOMPARE(folder.entryList(QDir::Dirs | QDir::NoDotAndDotDot), QStringList());
    QDirIterator everything(m_env.path(), QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                            QDirIterator::Subdirectories);
    while (everything.hasNext())
        QVERIFY2(!everything.next().contains(u"evil"_s), qPrintable(everything.filePath()));
    QVERIFY(!QFile::exists(u"/evil.d12"_s));
}

void TestInputFiles::secondImportRemovesFirstFolder()
{
    m_window->importJobFile(
            writeJob({ { "input_file_name", "a.d12" }, { "input_file_content", "A\n" } }));
    const QString first = child<QLineEdit>("lineEditWorkDir")->text();
    writeFile(first + u"/a.out"_s, "output of the first job\n");
    QDir(first).mkpath(u"sub/deeper"_s);
    m_window->importJobFile(writeJob(
            { { "input_file_name", "b.d12" }, { "input_file_content", "B\n" } }, u"b.farbojob"_s));
    const QString second = child<QLineEdit>("lineEditWorkDir")->text();
    QVERIFY(second != first);
    QVERIFY(!QFileInfo::exists(first));
    QVERIFY(QFileInfo::exists(second + u"/b.d12"_s));
    QCOMPARE(jobFolders().size(), 1);
}

void TestInputFiles::unopenableJobFileChangesNothing()
{
    m_window->importJobFile(writeJob({ { "input_file_name", "a.d12" },
                                       { "input_file_content", "A\n" },
                                       { "program", 1 },
                                       { "ncpus", 3 },
                                       { "user_token", "t" },
                                       { "title", "Kept" } }));
    const QString folder = child<QLineEdit>("lineEditWorkDir")->text();
    m_window->importJobFile(m_files.path() + u"/missing.farbojob"_s);
    QCOMPARE(child<QLineEdit>("lineEditWorkDir")->text(), folder);
    QVERIFY(QFileInfo::exists(folder + u"/a.d12"_s));
    QCOMPARE(child<QLineEdit>("lineEditTitle")->text(), u"Kept"_s);
    QCOMPARE(child<QComboBox>("comboBoxProgram")->currentText(), u"Pmoltra"_s);
    QCOMPARE(child<QSpinBox>("spinBoxProcs")->value(), 3);
    QVERIFY(m_answerer->shown.isEmpty());
}

void TestInputFiles::jobFileChosenInTheDialog()
{
    chooseInDialog(writeJob({ { "input_file_name", "mgo.d12" },
                              { "input_file_content", "MgO\n" },
                              { "program", 2 },
                              { "ncpus", 16 },
                              { "user_token", "t" },
                              { "title", "From the portal" } }));
    const QStringList folders = jobFolders();
    QCOMPARE(folders.size(), 1);
    QCOMPARE(child<QLineEdit>("lineEditWorkDir")->text(), tempRoot() + u'/' + folders.first());
    QCOMPARE(child<QLineEdit>("lineEditInputFile")->text(), u"mgo.d12"_s);
    QCOMPARE(child<QLineEdit>("lineEditTitle")->text(), u"From the portal"_s);
    QCOMPARE(child<QComboBox>("comboBoxProgram")->currentText(), u"MPPmoltra"_s);
    QCOMPARE(child<QSpinBox>("spinBoxProcs")->value(), 16);
}

void TestInputFiles::choosingADeckForgetsThePortalJob()
{
    chooseInDialog(writeJob({ { "input_file_name", "mgo.d12" },
                              { "input_file_content", "MgO\n" },
                              { "user_token", "t" },
                              { "title", "From the portal" } }));
    const QString jobFolder = child<QLineEdit>("lineEditWorkDir")->text();
    child<QToolButton>("toolButtonUpload")->setEnabled(true);
    chooseInDialog(writeFile(m_files.path() + u"/local.d12"_s, "Local deck\nEND\n"));
    QCOMPARE(child<QLineEdit>("lineEditTitle")->text(), u"Local deck\n"_s);
    QVERIFY(!child<QToolButton>("toolButtonUpload")->isEnabled());
    // The job folder lasts until the next import or the end of the window.
    QVERIFY(QFileInfo::exists(jobFolder + u"/mgo.d12"_s));
}

void TestInputFiles::failedWriteLeavesNoCutOffDeck()
{
    // A file size limit makes writes fail after the file has opened, as a full disk does.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit original;
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &original), 0);
    rlimit limited = original;
    limited.rlim_cur = 4096;
    const QByteArray bigDeck(20000, 'x');
    const QString job = writeJob({ { "input_file_name", "big.d12" },
                                   { "input_file_content", QString::fromLatin1(bigDeck) } });
    m_answerer->answer(QMessageBox::Ok);
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    m_window->importJobFile(job);
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &original), 0);
    QCOMPARE(m_answerer->shown.size(), 1);
    QCOMPARE(m_answerer->shown.first().text, u"Unable to create input file"_s);
    const QStringList folders = jobFolders();
    QCOMPARE(folders.size(), 1);
    QCOMPARE(QDir(tempRoot() + u'/' + folders.first()).entryList(QDir::Files), QStringList());
    QVERIFY(!child<QToolButton>("toolButtonStart")->isEnabled());
}

QTEST_MAIN(TestInputFiles)
#include "tst_inputfiles.moc"
