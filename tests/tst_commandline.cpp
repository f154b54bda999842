#include "mainwindow/mainwindow.h"
#include "modalanswerer.h"
#include "testsupport.h"

#include <QApplication>
#include <QComboBox>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QSpinBox>
#include <QToolButton>
#include <QtTest>

using namespace Qt::StringLiterals;

// The application is given a job file with another suffix, then a second file that
// must be ignored.
class TestCommandLine : public QObject
{
    Q_OBJECT

public:
    explicit TestCommandLine(IsolatedEnvironment &env)
        : m_env(env)
    { }

private Q_SLOTS:
    void firstArgumentIsImported();

private:
    IsolatedEnvironment &m_env;
};

void TestCommandLine::firstArgumentIsImported()
{
    QCOMPARE(QCoreApplication::arguments().size(), 3);
    ModalAnswerer answerer;
    answerer.answer(QMessageBox::Cancel);
    MainWindow window;
    const QStringList folders
            = QDir(m_env.path() + u"/tmp"_s).entryList({ u"farbojob_*"_s }, QDir::Dirs);
    QCOMPARE(folders.size(), 1);
    const QString folder = m_env.path() + u"/tmp/"_s + folders.first();
    QCOMPARE(window.findChild<QLineEdit *>(u"lineEditWorkDir"_s)->text(), folder);
    QCOMPARE(window.findChild<QLineEdit *>(u"lineEditTitle"_s)->text(), u"From the command line"_s);
    QCOMPARE(window.findChild<QComboBox *>(u"comboBoxProgram"_s)->currentText(), u"Pmoltra"_s);
    QVERIFY(window.findChild<QToolButton *>(u"toolButtonStart"_s)->isEnabled());

    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTRY_COMPARE(answerer.shown.size(), 1);
    auto *cores = window.findChild<QSpinBox *>(u"spinBoxProcs"_s);
    QVERIFY(cores->isEnabled());
    QCOMPARE(cores->value(), 12);
    QCOMPARE(readFile(folder + u"/mgo.d12"_s), QByteArray("MgO\nEND\n"));
    QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList{ u"mgo.d12"_s });
    QCOMPARE(answerer.unexpected, 0);
}

int main(int argc, char *argv[])
{
    IsolatedEnvironment env;
    const QString jobFile
            = writeFile(env.path() + u"/portal job.json"_s,
                        QJsonDocument(QJsonObject{ { u"input_file_name"_s, u"mgo.d12"_s },
                                                   { u"input_file_content"_s, u"MgO\nEND\n"_s },
                                                   { u"title"_s, u"From the command line"_s },
                                                   { u"program"_s, 1 },
                                                   { u"ncpus"_s, 12 },
                                                   { u"user_token"_s, u"token"_s } })
                                .toJson());
    const QString ignored = writeFile(env.path() + u"/other.farbojob"_s, "{}");
    QByteArray program(argv[0]);
    QByteArray first = QFile::encodeName(jobFile);
    QByteArray second = QFile::encodeName(ignored);
    char *arguments[] = { program.data(), first.data(), second.data(), nullptr };
    int count = 3;
    QApplication application(count, arguments);
    TestCommandLine test(env);
    return QTest::qExec(&test, argc, argv);
}

#include "tst_commandline.moc"
