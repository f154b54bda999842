// SPDX-License-Identifier: GPL-3.0-or-later
#include "job/outputfollower.h"
#include "testsupport.h"

#include <QRandomGenerator>
#include <QtTest>

using namespace Qt::StringLiterals;

class TestOutputFollower : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void showsWhatAWholeFileReadShows_data();
    void showsWhatAWholeFileReadShows();

private:
    QTemporaryDir m_dir;
};

void TestOutputFollower::showsWhatAWholeFileReadShows_data()
{
    // Each piece is appended; a piece starting with "=" replaces the file, one with "~"
    // rewrites it in place, one with ">" goes to another file.
    QTest::addColumn<QList<QByteArray>>("pieces");
    QTest::newRow("lines") << QList<QByteArray>{ "one\n", "two\nthr", "ee\n", "" };
    QTest::newRow("UTF-8 split") << QList<QByteArray>{ "caf\xc3", "\xa9\n\xe2", "\x82", "\xac" };
    QTest::newRow("CR LF split") << QList<QByteArray>{ "line\r", "\nnext\r\n", "a\rb" };
    QTest::newRow("invalid bytes") << QList<QByteArray>{ "\xff\xe2\x82", "A\xe2", "\x82\xe2" };
    QTest::newRow("truncated") << QList<QByteArray>{ "first run\nlong\n", "~new\n" };
    QTest::newRow("rewritten longer")
            << QList<QByteArray>{ "first run\n", "~second run, longer than the first\n" };
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

void TestOutputFollower::showsWhatAWholeFileReadShows()
{
    QFETCH(QList<QByteArray>, pieces);
    QString path = writeFile(m_dir.path() + u"/mgo.out"_s, QByteArray());
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

QTEST_GUILESS_MAIN(TestOutputFollower)
#include "tst_outputfollower.moc"
