// SPDX-License-Identifier: GPL-3.0-or-later
#include "job/outputindex.h"

#include <QIODevice>

#include <algorithm>
#include <cstring>

namespace {

bool continues(char byte)
{
    return (uchar(byte) & 0xC0) == 0x80;
}

bool inWord(char byte)
{
    return (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z')
            || (byte >= '0' && byte <= '9') || byte == '_';
}

const QByteArray MarkWords[] = { QByteArrayLiteral("WARNING"), QByteArrayLiteral("ERROR") };
constexpr qsizetype LongestWord = 7;

}

qint64 OutputIndex::rowLength(const char *bytes, qint64 size, bool atEnd)
{
    if (size <= 0)
        return 0;
    // A line feed right after a full row still belongs to it.
    const auto *feed
            = static_cast<const char *>(std::memchr(bytes, '\n', qMin(size, RowBytes + 1)));
    if (feed)
        return feed - bytes + 1;
    if (size <= RowBytes)
        return atEnd ? size : 0;
    // A long line: cut before the UTF-8 sequence that the limit falls into.
    qint64 cut = RowBytes;
    while (cut > RowBytes - 3 && continues(bytes[cut]))
        --cut;
    return cut;
}

void OutputIndex::clear()
{
    m_marks = { Mark() };
    m_marks.first().lineStart = true;
    m_rows = 0;
    m_lines = 0;
    m_size = 0;
    m_row_start = 0;
    m_carry.clear();
    m_marks_found.clear();
    m_word_tail.clear();
}

qint64 OutputIndex::lineCount() const
{
    return m_lines + (m_carry.isEmpty() ? 0 : 1);
}

void OutputIndex::append(const char *bytes, qint64 size)
{
    findMarks(bytes, size);
    m_size += size;
    if (m_carry.isEmpty())
        return takeRows(bytes, size);
    // The row begun before ends within the next row's length of bytes, or all of them join it.
    const qint64 had = m_carry.size();
    m_carry.append(bytes, qMin(size, RowBytes + 1));
    const qint64 length = rowLength(m_carry.constData(), m_carry.size(), false);
    if (length == 0)
        return;
    const bool fed = m_carry.at(length - 1) == '\n';
    m_carry.clear();
    endRow(fed, m_row_start + length);
    takeRows(bytes + (length - had), size - (length - had));
}

void OutputIndex::findMarks(const char *bytes, qint64 size)
{
    // A word is whole once the byte after it is known: one at the very end of the bytes waits
    // for the next ones, and is found where the last bytes meet them.
    const QByteArray block = QByteArray::fromRawData(bytes, size);
    const QByteArray seam = m_word_tail + block.left(LongestWord + 1);
    QList<qint64> found;
    for (const QByteArray &word : MarkWords) {
        // Those that begin in the last bytes taken in before.
        for (qsizetype at = seam.indexOf(word); at >= 0 && at < m_word_tail.size();
             at = seam.indexOf(word, at + 1)) {
            const qsizetype after = at + word.size();
            if (after < m_word_tail.size() || after >= seam.size())
                continue;
            const bool starts = at == 0 ? m_size == m_word_tail.size() : !inWord(seam.at(at - 1));
            if (starts && !inWord(seam.at(after)))
                found.append(m_size - m_word_tail.size() + at);
        }
        for (qsizetype at = block.indexOf(word); at >= 0; at = block.indexOf(word, at + 1)) {
            const qsizetype after = at + word.size();
            if (after >= block.size())
                break;
            const bool starts = at == 0 ? m_word_tail.isEmpty() || !inWord(m_word_tail.back())
                                        : !inWord(block.at(at - 1));
            if (starts && !inWord(block.at(after)))
                found.append(m_size + at);
        }
    }
    std::sort(found.begin(), found.end());
    m_marks_found += found;
    m_word_tail = (m_word_tail + block.right(LongestWord + 1)).right(LongestWord + 1);
}

void OutputIndex::takeRows(const char *bytes, qint64 size)
{
    while (size > 0) {
        const qint64 length = rowLength(bytes, size, false);
        if (length == 0)
            break;
        endRow(bytes[length - 1] == '\n', m_row_start + length);
        bytes += length;
        size -= length;
    }
    m_carry = QByteArray(bytes, size);
}

void OutputIndex::endRow(bool fed, qint64 next)
{
    ++m_rows;
    if (fed)
        ++m_lines;
    m_row_start = next;
    if (m_rows % Stride == 0)
        m_marks.append({ m_rows, next, m_lines, fed });
}

OutputIndex::Mark OutputIndex::markBefore(qint64 row) const
{
    const auto after = std::partition_point(m_marks.cbegin(), m_marks.cend(),
                                            [row](const Mark &mark) { return mark.row <= row; });
    return after == m_marks.cbegin() ? Mark() : *(after - 1);
}

OutputIndex::Mark OutputIndex::markBeforeLine(qint64 line) const
{
    const auto after
            = std::partition_point(m_marks.cbegin(), m_marks.cend(), [line](const Mark &mark) {
                  return mark.line < line || (mark.line == line && mark.lineStart);
              });
    return after == m_marks.cbegin() ? Mark() : *(after - 1);
}

OutputIndex::Mark OutputIndex::markBeforeOffset(qint64 offset) const
{
    const auto after
            = std::partition_point(m_marks.cbegin(), m_marks.cend(),
                                   [offset](const Mark &mark) { return mark.offset <= offset; });
    return after == m_marks.cbegin() ? Mark() : *(after - 1);
}

OutputIndex::Reader::Reader(const OutputIndex &index, QIODevice *file, const Mark &from)
    : m_file(file)
    , m_end(index.size())
    , m_row(from)
{
    m_ok = file->seek(from.offset);
    m_read = from.offset;
}

bool OutputIndex::Reader::next()
{
    m_buffer.remove(0, m_taken);
    m_row.offset += m_taken;
    if (m_taken > 0) {
        ++m_row.row;
        if (m_fed)
            ++m_row.line;
        m_row.lineStart = m_fed;
    }
    m_taken = 0;
    // Enough for a whole row, but never past what the index took in.
    while (m_ok && m_buffer.size() <= RowBytes && m_read < m_end) {
        const QByteArray more = m_file->read(qMin<qint64>(1 << 16, m_end - m_read));
        if (more.isEmpty()) {
            m_ok = false;
            break;
        }
        m_read += more.size();
        m_buffer += more;
    }
    m_taken = rowLength(m_buffer.constData(), m_buffer.size(), m_read >= m_end || !m_ok);
    m_fed = m_taken > 0 && m_buffer.at(m_taken - 1) == '\n';
    return m_taken > 0;
}

QByteArray OutputIndex::Reader::bytes() const
{
    return m_buffer.left(m_taken);
}
