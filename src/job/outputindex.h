// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef OUTPUTINDEX_H
#define OUTPUTINDEX_H

#include <QByteArray>
#include <QList>

class QIODevice;

// Where the rows of an output file begin, built as the file is read and extended as it grows,
// so that any row can be read without holding the file. A row is a line with its line feed, or
// a piece of at most RowBytes of a longer line, never cut inside a UTF-8 sequence; one row in
// Stride is kept with its offset and the line it belongs to.
class OutputIndex
{
public:
    static constexpr qint64 RowBytes = 4096;
    static constexpr qint64 Stride = 32;

    struct Mark
    {
        qint64 row = 0;
        qint64 offset = 0;
        // The line (counted from 0) that the row is part of, and whether the row begins it.
        qint64 line = 0;
        bool lineStart = true;
    };

    // Reads the file's rows one by one from a kept row on, as far as the index took it in.
    class Reader
    {
    public:
        Reader(const OutputIndex &index, QIODevice *file, const Mark &from);
        // Goes to the next row, the kept one first; false at the end or when the file cannot
        // be read.
        bool next();
        // The row gone to: its number, offset and line.
        const Mark &row() const { return m_row; }
        // Its bytes, with the line feed that ends it.
        QByteArray bytes() const;

    private:
        QIODevice *m_file;
        qint64 m_end;
        qint64 m_read = 0;
        Mark m_row;
        QByteArray m_buffer;
        qint64 m_taken = 0;
        bool m_fed = false;
        bool m_ok = false;
    };

    // The length of the row that the bytes begin: up to its line feed, or a piece of a long
    // line; 0 when the bytes do not tell yet and more may come (at the end of the file, the rest
    // is a row).
    static qint64 rowLength(const char *bytes, qint64 size, bool atEnd);

    OutputIndex() { clear(); }

    void clear();
    // Takes in the bytes that follow those taken so far.
    void append(const char *bytes, qint64 size);
    // How many bytes were taken in.
    qint64 size() const { return m_size; }
    // The rows, the last one counted while it is not yet ended.
    qint64 rowCount() const { return m_rows + (m_carry.isEmpty() ? 0 : 1); }
    // The lines, the last one counted while it is not yet ended.
    qint64 lineCount() const;
    // Where the words WARNING and ERROR stand, whole and in capitals, in order.
    const QList<qint64> &marks() const { return m_marks_found; }
    // The kept row at or before the row, from which a reader goes on row by row.
    Mark markBefore(qint64 row) const;
    // The kept row at or before the first row of the line.
    Mark markBeforeLine(qint64 line) const;
    // The kept row at or before the byte.
    Mark markBeforeOffset(qint64 offset) const;

private:
    // Takes in the rows that the bytes after the last ended row tell of.
    void takeRows(const char *bytes, qint64 size);
    void endRow(bool fed, qint64 next);
    void findMarks(const char *bytes, qint64 size);

    QList<Mark> m_marks;
    qint64 m_rows = 0;
    qint64 m_lines = 0;
    qint64 m_size = 0;
    qint64 m_row_start = 0;
    // The bytes of the row not yet ended; it is never longer than a row.
    QByteArray m_carry;
    QList<qint64> m_marks_found;
    // The last bytes taken in, where a word may begin that the next ones end.
    QByteArray m_word_tail;
};

#endif
