// SPDX-License-Identifier: GPL-3.0-or-later
// An output file's index of rows, and its view, against the file read whole.
#include "job/outputindex.h"
#include "job/outputsearch.h"
#include "mainwindow/outputfileview.h"
#include "windowsupport.h"

#include <QAccessible>
#include <QClipboard>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QRandomGenerator>
#include <QRegularExpression>
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
    const QList<QByteArray> pieces{
        "a",        "Z",     " ", "\xc3\xa9", "\xe4\xb8\xad", "\xf0\x9f\x98\x80", "\r",
        " WARNING", "ERROR", "_", "s"
    };
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
    void viewShowsWhatAWholeFileReadShows_data();
    void viewShowsWhatAWholeFileReadShows();
    void replacedWhileTakenIn();
    void goneWhileShown();
    void largeCopyAsks();
    void readByScreenReaders();
    void searchAgainstWholeFile_data();
    void searchAgainstWholeFile();
    void marksInTurn();

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
    // The words marked: whole, in capitals, and with a byte after them.
    QList<qint64> marks;
    const QString latin = QString::fromLatin1(whole);
    QRegularExpressionMatchIterator words
            = QRegularExpression(u"(?<![A-Za-z0-9_])(WARNING|ERROR)(?=[^A-Za-z0-9_])"_s)
                      .globalMatch(latin);
    while (words.hasNext())
        marks << words.next().capturedStart();
    QCOMPARE(index.marks(), marks);
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

void TestOutput::viewShowsWhatAWholeFileReadShows_data()
{
    // Each piece is appended; a piece starting with "=" replaces the file, one with "~"
    // rewrites it in place, one with ">" goes to another file.
    QTest::addColumn<QList<QByteArray>>("pieces");
    QTest::newRow("UTF-8 split") << QList<QByteArray>{ "caf\xc3", "\xa9\n\xe2", "\x82", "\xac" };
    QTest::newRow("CR LF split") << QList<QByteArray>{ "line\r", "\nnext\r\n", "a\rb" };
    QTest::newRow("rewritten") << QList<QByteArray>{ "first run\n", "~new\n", "~longer run\n" };
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

void TestOutput::viewShowsWhatAWholeFileReadShows()
{
    QFETCH(QList<QByteArray>, pieces);
    QString path = writeFile(m_env.path() + u"/mgo.out"_s, QByteArray());
    OutputFileView view;
    view.open(path);
    for (const QByteArray &piece : pieces) {
        if (piece.startsWith('~')) {
            writeFile(path, piece.mid(1));
        } else if (piece.startsWith('=')) {
            QFile::remove(path);
            QFile::rename(writeFile(path + u".new"_s, piece.mid(1)), path);
        } else if (piece.startsWith('>')) {
            path = writeFile(path + u"p"_s, piece.mid(1));
            view.open(path);
        } else {
            QFile file(path);
            QVERIFY(file.open(QIODevice::Append) && file.write(piece) == piece.size());
        }
        view.refresh();
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
        QCOMPARE(view.text(), QString::fromUtf8(file.readAll()));
        // The index counts the lines there are, not those of a file rewritten since.
        const QByteArray bytes = readFile(path);
        QCOMPARE(view.lineCount(),
                 bytes.count('\n') + (bytes.endsWith('\n') || bytes.isEmpty() ? 0 : 1));
    }
}

void TestOutput::replacedWhileTakenIn()
{
    // Taken in a slice at a time; meanwhile the job's next run writes a new file.
    const QString path
            = writeFile(m_env.path() + u"/big.out"_s, "first run\n"_ba.repeated(3000000));
    OutputFileView view;
    view.open(path);
    QVERIFY(view.size() < QFileInfo(path).size());
    QVERIFY(QFile::remove(path));
    QVERIFY(QFile::rename(writeFile(path + u".new"_s, "second run\n"_ba.repeated(1000)), path));
    view.complete();
    QCOMPARE(view.rowCount(), 1000);
    QCOMPARE(view.rowText(999), u"second run"_s);
}

void TestOutput::goneWhileShown()
{
    const QString path = writeFile(m_env.path() + u"/gone.out"_s, "kept\n");
    OutputFileView view;
    view.open(path);
    QVERIFY(QFile::remove(path));
    view.refresh();
    QCOMPARE(view.problem(), u"%1 is not there any more."_s.arg(path));
    QCOMPARE(view.rowText(0), u"kept"_s);
}

void TestOutput::largeCopyAsks()
{
    // Past 16 MiB the copy is asked for first; declined, the clipboard stays as it was.
    OutputFileView view;
    view.open(writeFile(m_env.path() + u"/large.out"_s, QByteArray(17 * 1024 * 1024, 'x')));
    view.complete();
    QGuiApplication::clipboard()->setText(u"before"_s);
    ModalAnswerer answerer;
    answerer.answer(u"Cancel"_s);
    QTest::keySequence(&view, QKeySequence::SelectAll);
    QTest::keySequence(&view, QKeySequence::Copy);
    QCOMPARE(answerer.shown, QStringList{ u"Copy 17.8 MB of output to the clipboard?"_s });
    QCOMPARE(QGuiApplication::clipboard()->text(), u"before"_s);
    // Below it, at once.
    view.select({ 0, 0 }, { 0, 3 });
    QTest::keySequence(&view, QKeySequence::Copy);
    QCOMPARE(QGuiApplication::clipboard()->text(), u"xxx"_s);
}

void TestOutput::readByScreenReaders()
{
    OutputFileView view;
    view.resize(400, 300);
    view.open(writeFile(m_env.path() + u"/read.out"_s, "first\nsecond line\nthird\n"));
    view.complete();
    QAccessibleInterface *face = QAccessible::queryAccessibleInterface(&view);
    QVERIFY(face && face->textInterface());
    QVERIFY(face->state().readOnly && face->state().multiLine);
    QAccessibleTextInterface *text = face->textInterface();
    // The rows in view, the cursor and the selection among them, both ways.
    QCOMPARE(text->text(0, text->characterCount()), u"first\nsecond line\nthird"_s);
    view.select({ 1, 0 }, { 1, 6 });
    int start = 0;
    int end = 0;
    text->selection(0, &start, &end);
    QCOMPARE(text->text(start, end), u"second"_s);
    QCOMPARE(text->cursorPosition(), 12);
    text->setCursorPosition(20);
    QCOMPARE(view.cursor().row, 2);
    QCOMPARE(view.cursor().column, 2);
    QCOMPARE(text->selectionCount(), 0);
    // A character's place on the screen, and back.
    QCOMPARE(text->offsetAtPoint(text->characterRect(14).center()), 14);
}

void TestOutput::marksInTurn()
{
    OutputFileView view;
    view.resize(400, 100);
    view.open(writeFile(m_env.path() + u"/marks.out"_s,
                        "ok\nWARNING: a\nNOERROR\n"_ba + "cycle\n"_ba.repeated(500)
                                + "x ERROR y\nWARNINGS\nend\n"));
    view.complete();
    // F8 from the top, each in turn, then no further; Shift+F8 back.
    QStringList seen;
    while (view.goToMark(true))
        seen << u"%1:%2"_s.arg(view.cursor().row).arg(view.selectedText());
    QVERIFY(view.goToMark(false));
    seen << u"%1:%2"_s.arg(view.cursor().row).arg(view.selectedText());
    QCOMPARE(seen, (QStringList{ u"1:WARNING"_s, u"503:ERROR"_s, u"1:WARNING"_s }));
}

void TestOutput::searchAgainstWholeFile_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("matchCase");
    QTest::addColumn<bool>("backward");
    QTest::addColumn<qint64>("from");
    QTest::addColumn<qint64>("to");
    QTest::addColumn<qint64>("found"); // -2: as the whole file's bytes say
    // "BOUNDARY" at 100, "Boundary" across the first block's end, "bOUNDARy" across 5 MiB,
    // "boundary" at 6 MiB.
    constexpr qint64 Across = 4 * 1024 * 1024 - 3;
    constexpr qint64 End = 9 * 1024 * 1024;
    QTest::newRow("any case, the first") << u"boundary"_s << false << false << 0ll << End << 100ll;
    QTest::newRow("any case, across blocks")
            << u"boundary"_s << false << false << 101ll << End << Across;
    QTest::newRow("any case, back: the last")
            << u"BOUNDARY"_s << false << true << 0ll << End << 6ll * 1024 * 1024;
    QTest::newRow("any case, back across blocks")
            << u"boundary"_s << false << true << 0ll << Across + 20 << Across;
    QTest::newRow("case matched") << u"Boundary"_s << true << false << 0ll << End << Across;
    QTest::newRow("case matched, back") << u"BOUNDARY"_s << true << true << 0ll << End << 100ll;
    // Backward, blocks end at the range's end: 9 MiB, 5 MiB...
    QTest::newRow("case matched, back across blocks")
            << u"bOUNDARy"_s << true << true << 0ll << End << 5ll * 1024 * 1024 - 3;
    QTest::newRow("not within the range")
            << u"boundary"_s << false << false << 101ll << Across + 7 << -1ll;
    for (const bool matchCase : { false, true }) {
        for (const bool backward : { false, true })
            QTest::addRow("random, %s%s", matchCase ? "case matched" : "any case",
                          backward ? ", back" : "")
                    << QString() << matchCase << backward << 0ll << 0ll << -2ll;
    }
}

void TestOutput::searchAgainstWholeFile()
{
    QFETCH(QString, text);
    QFETCH(bool, matchCase);
    QFETCH(bool, backward);
    QFETCH(qint64, from);
    QFETCH(qint64, to);
    QFETCH(qint64, found);
    QRandomGenerator random(quint32(from + to + matchCase * 2 + backward));
    QByteArray whole = randomOutput(random, false, 9 * 1024 * 1024);
    whole.replace(100, 8, "BOUNDARY");
    whole.replace(4 * 1024 * 1024 - 3, 8, "Boundary");
    whole.replace(6 * 1024 * 1024, 8, "boundary");
    whole.replace(5 * 1024 * 1024 - 3, 8, "bOUNDARy");
    const QString path = writeFile(m_env.path() + u"/search.out"_s, whole);
    const std::atomic_bool cancel = false;
    OutputSearch::Request request{ path, text, matchCase, backward, from, to };
    if (found != -2)
        QCOMPARE(OutputSearch::find(request, cancel), found);
    // Text from the file, some of it in the other case, from random places.
    const QByteArray folded = matchCase ? whole : whole.toLower();
    for (int probe = 0; found == -2 && probe < 30; ++probe) {
        QByteArray needle = whole.mid(random.bounded(int(whole.size())), 1 + random.bounded(9));
        request.text = QString::fromUtf8(probe % 3 == 1 ? needle.toUpper() : needle);
        request.from = random.bounded(int(whole.size()));
        request.to = request.from + random.bounded(int(whole.size() - request.from));
        const QByteArray wanted
                = matchCase ? request.text.toUtf8() : request.text.toUtf8().toLower();
        const QByteArray range = folded.left(request.to);
        qint64 expected
                = backward ? range.lastIndexOf(wanted) : range.indexOf(wanted, request.from);
        QCOMPARE(OutputSearch::find(request, cancel), expected < request.from ? -1 : expected);
    }
}

QTEST_MAIN(TestOutput)
#include "tst_output.moc"
