#include "mainwindow/outputfollower.h"
#include "testsupport.h"

#include <QFile>
#include <QPlainTextEdit>
#include <QRandomGenerator>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

// What a whole-file look shows: the file read in text mode and decoded as UTF-8.
QString wholeFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    return QString::fromUtf8(file.readAll());
}

void apply(QString &shown, const OutputFollower::Update &update)
{
    if (update.change == OutputFollower::Change::Replace)
        shown = update.text;
    else if (update.change == OutputFollower::Change::Append)
        shown = shown.left(shown.size() - update.dropTrailing) + update.text;
}

void append(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Append));
    QCOMPARE(file.write(bytes), bytes.size());
}

}

class TestOutputFollower : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void growingFileMatchesWholeFile_data();
    void growingFileMatchesWholeFile();
    void randomChunksMatchWholeFile();
    void changedFileIsShownFromItsStart_data();
    void changedFileIsShownFromItsStart();
    void unopenedFileChangesNothing();

private:
    QTemporaryDir m_dir;
};

void TestOutputFollower::growingFileMatchesWholeFile_data()
{
    QTest::addColumn<QList<QByteArray>>("chunks");
    QTest::newRow("plain lines") << QList<QByteArray>{ "one\n", "two\nthr", "ee\n" };
    QTest::newRow("two-byte sequence split") << QList<QByteArray>{ "caf\xc3", "\xa9\n" };
    QTest::newRow("three-byte sequence split twice")
            << QList<QByteArray>{ "\xe2", "\x82", "\xac!" };
    QTest::newRow("four-byte sequence split") << QList<QByteArray>{ "x\xf0\x9f", "\x98\x80y" };
    QTest::newRow("CR LF split") << QList<QByteArray>{ "line\r", "\nnext\r\n" };
    QTest::newRow("lone CR dropped") << QList<QByteArray>{ "a\rb", "\r", "c" };
    QTest::newRow("invalid bytes") << QList<QByteArray>{ "\xff\xfe", "ok\x80", "\xc3(" };
    QTest::newRow("sequence cut by an invalid byte")
            << QList<QByteArray>{ "\xe2\x82", "A\xe2", "\x82\xe2\x82\xac" };
    QTest::newRow("file ends inside a sequence") << QList<QByteArray>{ "end \xe2\x82" };
    QTest::newRow("nothing new") << QList<QByteArray>{ "same\n", "", "" };
}

void TestOutputFollower::growingFileMatchesWholeFile()
{
    QFETCH(QList<QByteArray>, chunks);
    const QString path = writeFile(m_dir.path() + u"/grow.out"_s, QByteArray());
    OutputFollower follower;
    QString shown;
    for (const QByteArray &chunk : chunks) {
        append(path, chunk);
        apply(shown, follower.poll(path));
        QCOMPARE(shown, wholeFile(path));
    }
}

void TestOutputFollower::randomChunksMatchWholeFile()
{
    // Bytes drawn from a small alphabet rich in sequence starts, continuations and CRs.
    const QByteArray alphabet("a\n\r\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80\xff\x80 \0", 16);
    QRandomGenerator random(20261206);
    for (int round = 0; round < 300; ++round) {
        const QString path = writeFile(m_dir.path() + u"/random.out"_s, QByteArray());
        OutputFollower follower;
        QString shown;
        for (int step = 0; step < 12; ++step) {
            QByteArray chunk;
            const int size = random.bounded(0, 9);
            for (int i = 0; i < size; ++i)
                chunk.append(alphabet.at(random.bounded(alphabet.size())));
            append(path, chunk);
            apply(shown, follower.poll(path));
            QVERIFY2(shown == wholeFile(path),
                     qPrintable(u"round %1 step %2: %3"_s.arg(round).arg(step).arg(
                             QString::fromLatin1(readFile(path).toHex(' ')))));
        }
    }
}

void TestOutputFollower::changedFileIsShownFromItsStart_data()
{
    QTest::addColumn<QString>("change");
    QTest::newRow("truncated") << u"truncate"_s;
    QTest::newRow("truncated and grown past the old size") << u"rewrite"_s;
    QTest::newRow("replaced by a new file") << u"replace"_s;
    QTest::newRow("another file name") << u"rename"_s;
}

void TestOutputFollower::changedFileIsShownFromItsStart()
{
    QFETCH(QString, change);
    QString path = writeFile(m_dir.path() + u"/step.out"_s, "first run, first line\nsecond\n");
    OutputFollower follower;
    QString shown;
    apply(shown, follower.poll(path));
    if (change == u"truncate"_s) {
        writeFile(path, "new\n");
    } else if (change == u"rewrite"_s) {
        writeFile(path, "second run writes a longer first line\nand more\n");
    } else if (change == u"replace"_s) {
        const QString other = writeFile(m_dir.path() + u"/other.tmp"_s,
                                        "replacement that is longer than before\n");
        QFile::remove(path);
        QVERIFY(QFile::rename(other, path));
    } else {
        path = writeFile(m_dir.path() + u"/step.outp"_s,
                         "first run, first line\nsecond\nand the d3 step\n");
    }
    const OutputFollower::Update update = follower.poll(path);
    QCOMPARE(update.change, OutputFollower::Change::Replace);
    apply(shown, update);
    QCOMPARE(shown, wholeFile(path));
}

void TestOutputFollower::unopenedFileChangesNothing()
{
    OutputFollower follower;
    const OutputFollower::Update update = follower.poll(m_dir.path() + u"/missing.out"_s);
    QVERIFY(!update.opened);
    QCOMPARE(update.change, OutputFollower::Change::None);
}

QTEST_MAIN(TestOutputFollower)
#include "tst_outputfollower.moc"
