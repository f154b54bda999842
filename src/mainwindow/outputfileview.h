// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef OUTPUTFILEVIEW_H
#define OUTPUTFILEVIEW_H

#include "job/outputindex.h"

#include <QAbstractScrollArea>
#include <QFile>

class QTimer;

// An output file shown as it is on disk, of any size: only the rows in view are read, through an
// index of where rows begin that grows with the file. It follows the end while the last row is
// in view; a file that shrank, was rewritten or replaced is shown afresh. Text can be selected
// with the mouse or the keyboard and copied.
class OutputFileView : public QAbstractScrollArea
{
    Q_OBJECT

public:
    // A place in the text: a row and a character in it.
    struct Position
    {
        qint64 row = 0;
        int column = 0;
        bool operator<(const Position &other) const
        {
            return row < other.row || (row == other.row && column < other.column);
        }
        bool operator==(const Position &other) const
        {
            return row == other.row && column == other.column;
        }
    };

    // A copy larger than this asks first.
    static constexpr qint64 CopyAsked = 16 * 1024 * 1024;

    explicit OutputFileView(QWidget *parent = nullptr);

    // Shows the file from its beginning; an empty path shows nothing.
    void open(const QString &path);
    QString path() const { return m_path; }
    // Takes in what the file gained: at most a slice at a time, the rest from the event loop.
    void refresh();
    // Takes in all the file holds now.
    void complete();

    qint64 rowCount() const { return m_index.rowCount(); }
    qint64 lineCount() const { return m_index.lineCount(); }
    // A row as shown: without its line feed and carriage returns.
    QString rowText(qint64 row) const;
    // All rows, as a whole read of the file shows them; for tests and small files.
    QString text() const;
    QString selectedText() const;
    void select(const Position &anchor, const Position &cursor);
    // Where a column of a row is drawn, in the viewport.
    QPoint pointOf(const Position &position) const;
    Position positionAt(const QPoint &point) const;
    Position cursor() const { return m_cursor; }
    // Where the selection began, and the cursor.
    std::pair<Position, Position> selection() const { return { m_anchor, m_cursor }; }
    // How much of the file is taken in.
    qint64 size() const { return m_index.size(); }
    // Brings the row into view, at the middle unless it is in view already.
    void showRow(qint64 row);
    void goToLine(qint64 line);
    // Selects the next word WARNING or ERROR on a row after the cursor's, or before it.
    bool goToMark(bool forward);
    // The row where byte offset lies, and the column of the byte in it.
    Position positionOf(qint64 offset) const;
    // The byte offset of a position.
    qint64 offsetOf(const Position &position) const;
    void zoomIn(int steps);
    // The rows in view, as screen readers get them, and the first of them.
    QStringList rowsInViewText() const;
    qint64 firstRowInView() const;
    int rowsInView() const;
    int rowHeight() const;
    bool followsEnd() const;
    // What went wrong reading the file, said in the view; empty while all is well.
    QString problem() const { return m_problem; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    // Takes in what the file gained: all of it, or a slice and the rest from the event loop.
    void takeIn(bool whole);
    // Reads on for at most this long; true when the file had no more.
    bool readSlice(qint64 budgetNs);
    // Whether the file at the path, of this inode (0: none), is no longer the one taken in.
    bool replaced(quint64 inode);
    void reset();
    void updateRange();
    // The rows [first, first + count), as their bytes.
    QList<QByteArray> rowBytes(qint64 first, qint64 count) const;
    void copy();
    // Tells screen readers what changed.
    void told(bool cursorMoved);
    void setProblem(const QString &problem);

    QString m_path;
    mutable QFile m_file;
    OutputIndex m_index;
    // The last bytes taken in: a file rewritten in place no longer ends with them.
    QByteArray m_tail;
    QByteArray m_block;
    quint64 m_inode = 0;
    QTimer *m_more;
    // Beside the scroll bar: where the words WARNING and ERROR stand in the file.
    QWidget *m_strip;
    Position m_anchor;
    Position m_cursor;
    int m_widest = 0;
    QString m_problem;
};

#endif
