// SPDX-License-Identifier: GPL-3.0-or-later
// An output file's index of rows, against the file read whole.
#include "job/outputindex.h"
#include "testsupport.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// Lines of random lengths, some far longer than a row, of ASCII, two-, three- and four-byte
// characters and carriage returns; or random bytes.
QByteArray randomOutput(QRandomGenerator &random, bool binary, qint64 size)
{
    QByteArray bytes;
    if (binary) {
        while (bytes.size() < size)
            bytes += char(random.bounded(256));
        return bytes;
    }
    const QList<QByteArray> pieces{ "a", "Z", " ", "\xc3\xa9", "\xe4\xb8\xad", "\xf0\x9f\x98\x80",
                                    "\r" };
    while (bytes.size() < size) {
        const int length = random.bounded(10) == 0 ? random.bounded(20000) : random.bounded(120);
        for (int i = 0; i < length; ++i)
            bytes += pieces.at(random.bounded(int(pieces.size())));
        bytes += '\n';
    }
    bytes.truncate(size);
    return bytes;
}

}

class TestOutput : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void indexAgainstWholeFile_data();
    void indexAgainstWholeFile();

private:
    IsolatedEnvironment m_env;
};

void TestOutput::indexAgainstWholeFile_data()
{
    QTest::addColumn<quint32>("seed");
    QTest::addColumn<bool>("binary");
    QTest::addColumn<qint64>("size");
    for (quint32 seed = 1; seed <= 6; ++seed)
        QTest::addRow("text, seed %u", seed) << seed << false << qint64(seed * 150000);
    QTest::newRow("random bytes") << 7u << true << qint64(300000);
    QTest::newRow("one byte") << 8u << false << qint64(1);
    QTest::newRow("empty") << 9u << false << qint64(0);
}

void TestOutput::indexAgainstWholeFile()
{
    QFETCH(quint32, seed);
    QFETCH(bool, binary);
    QFETCH(qint64, size);
    QRandomGenerator random(seed);
    const QByteArray whole = randomOutput(random, binary, size);
    const QString path = writeFile(m_env.path() + u"/out"_s, whole);
    // The rows and the lines as read from the whole file at once.
    QList<OutputIndex::Mark> rows;
    for (qint64 at = 0, line = 0; at < whole.size();) {
        const qint64 length
                = OutputIndex::rowLength(whole.constData() + at, whole.size() - at, true);
        const bool lineStart = at == 0 || whole.at(at - 1) == '\n';
        rows.append({ rows.size(), at, line, lineStart });
        at += length;
        line += whole.at(at - 1) == '\n' ? 1 : 0;
    }
    // Taken in as a followed file grows, in random cuts.
    OutputIndex index;
    for (qint64 at = 0; at < whole.size();) {
        const qint64 cut = qMin<qint64>(whole.size() - at, 1 + random.bounded(70000));
        index.append(whole.constData() + at, cut);
        at += cut;
    }
    QCOMPARE(index.size(), whole.size());
    QCOMPARE(index.rowCount(), rows.size());
    QCOMPARE(index.lineCount(),
             whole.count('\n') + (whole.endsWith('\n') || whole.isEmpty() ? 0 : 1));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    for (int probe = 0; probe < 40 && !rows.isEmpty(); ++probe) {
        const OutputIndex::Mark &wanted = rows.at(random.bounded(int(rows.size())));
        const qint64 length
                = (wanted.row + 1 < rows.size() ? rows.at(wanted.row + 1).offset : whole.size())
                - wanted.offset;
        // By row, by the line it begins or is part of, and by a byte within it.
        const QList<OutputIndex::Mark> from{
            index.markBefore(wanted.row), index.markBeforeLine(wanted.line),
            index.markBeforeOffset(wanted.offset + random.bounded(length))
        };
        for (const OutputIndex::Mark &mark : from) {
            QVERIFY(mark.row <= wanted.row);
            OutputIndex::Reader reader(index, &file, mark);
            while (reader.next() && reader.row().row < wanted.row) { }
            QCOMPARE(reader.row().row, wanted.row);
            QCOMPARE(reader.row().offset, wanted.offset);
            QCOMPARE(reader.row().line, wanted.line);
            QCOMPARE(reader.row().lineStart, wanted.lineStart);
            QCOMPARE(reader.bytes(), whole.mid(wanted.offset, length));
        }
        // A row is never longer than a row may be, nor cut inside a character.
        QVERIFY(length <= OutputIndex::RowBytes + 1);
        if (!binary)
            QVERIFY(!QString::fromUtf8(whole.mid(wanted.offset, length))
                             .contains(QChar::ReplacementCharacter));
    }
}

QTEST_GUILESS_MAIN(TestOutput)
#include "tst_output.moc"
