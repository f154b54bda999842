// SPDX-License-Identifier: GPL-3.0-or-later
#include "mainwindow/outputfileview.h"

#include "mainwindow/outputfileviewaccessible.h"

#include <QAccessible>
#include <QClipboard>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLocale>
#include <QMessageBox>
#include <QPainter>
#include <QScrollBar>
#include <QTimer>

#include <sys/stat.h>

namespace {

// A slice of taking in a file holds up the event loop at most this long.
constexpr qint64 SliceNs = 8'000'000;
constexpr qint64 Block = 1 << 20;
constexpr int TailBytes = 64;
constexpr int Margin = 4;
constexpr int StripWidth = 6;

quint64 inodeOf(const QString &path)
{
    struct stat info;
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? quint64(info.st_ino) : 0;
}

QString decoded(QByteArray bytes)
{
    if (bytes.endsWith('\n'))
        bytes.chop(1);
    return QString::fromUtf8(bytes.replace('\r', QByteArray()));
}

}

OutputFileView::OutputFileView(QWidget *parent)
    : QAbstractScrollArea(parent)
    , m_more(new QTimer(this))
    , m_strip(new QWidget(this))
{
    setViewportMargins(0, 0, StripWidth, 0);
    m_strip->setObjectName(QStringLiteral("outputMarks"));
    m_strip->installEventFilter(this);
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setCursor(Qt::IBeamCursor);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_more->setSingleShot(true);
    connect(m_more, &QTimer::timeout, this, &OutputFileView::refresh);
    static const bool installed = [] {
        QAccessible::installFactory(OutputFileViewAccessible::create);
        return true;
    }();
    Q_UNUSED(installed);
}

void OutputFileView::open(const QString &path)
{
    m_path = path;
    reset();
    refresh();
}

void OutputFileView::reset()
{
    m_more->stop();
    m_file.close();
    m_index.clear();
    m_tail.clear();
    m_anchor = m_cursor = Position();
    m_widest = 0;
    m_problem.clear();
    m_inode = 0;
    if (!m_path.isEmpty()) {
        m_file.setFileName(m_path);
        if (m_file.open(QIODevice::ReadOnly))
            m_inode = inodeOf(m_path);
    }
    verticalScrollBar()->setValue(0);
    updateRange();
}

bool OutputFileView::replaced(quint64 inode)
{
    if (!m_file.isOpen())
        return true;
    // Gone, or no longer readable: what was taken in stays, read through the open file.
    if (inode == 0)
        return false;
    if (inode != m_inode || m_file.size() < m_index.size())
        return true;
    if (m_tail.isEmpty())
        return false;
    return !m_file.seek(m_index.size() - m_tail.size()) || m_file.read(m_tail.size()) != m_tail;
}

void OutputFileView::refresh()
{
    takeIn(false);
}

void OutputFileView::complete()
{
    takeIn(true);
}

void OutputFileView::takeIn(bool whole)
{
    if (m_path.isEmpty())
        return;
    const bool follow = followsEnd();
    const quint64 inode = inodeOf(m_path);
    if (replaced(inode))
        reset();
    if (!m_file.isOpen()) {
        // Not written yet is no problem.
        setProblem(QFileInfo::exists(m_path)
                           ? tr("Cannot read %1: %2.").arg(m_path, m_file.errorString())
                           : QString());
        return;
    }
    setProblem(inode == 0 ? tr("%1 is not there any more.").arg(m_path) : QString());
    if (whole) {
        while (!readSlice(std::numeric_limits<qint64>::max())) { }
        m_more->stop();
    } else if (!readSlice(SliceNs)) {
        m_more->start(0);
    }
    updateRange();
    if (follow)
        verticalScrollBar()->setValue(verticalScrollBar()->maximum());
    viewport()->update();
    m_strip->update();
}

bool OutputFileView::readSlice(qint64 budgetNs)
{
    QElapsedTimer clock;
    clock.start();
    if (!m_file.seek(m_index.size()))
        return true;
    // One buffer for every block: a fresh one each time would be new pages each time.
    m_block.resize(Block);
    while (clock.nsecsElapsed() < budgetNs) {
        const qint64 read = m_file.read(m_block.data(), Block);
        if (read <= 0)
            return true;
        m_index.append(m_block.constData(), read);
        m_tail = (m_tail + QByteArray::fromRawData(m_block.constData(), read).right(TailBytes))
                         .right(TailBytes);
    }
    return m_file.atEnd();
}

void OutputFileView::setProblem(const QString &problem)
{
    if (problem == m_problem)
        return;
    m_problem = problem;
    viewport()->update();
}

QList<QByteArray> OutputFileView::rowBytes(qint64 first, qint64 count) const
{
    QList<QByteArray> rows;
    if (count <= 0 || first >= m_index.rowCount() || !m_file.isOpen())
        return rows;
    OutputIndex::Reader reader(m_index, &m_file, m_index.markBefore(first));
    while (rows.size() < count && reader.next()) {
        if (reader.row().row >= first)
            rows.append(reader.bytes());
    }
    return rows;
}

QString OutputFileView::rowText(qint64 row) const
{
    return decoded(rowBytes(row, 1).value(0));
}

QString OutputFileView::text() const
{
    QString text;
    for (const QByteArray &row : rowBytes(0, m_index.rowCount()))
        text += QString::fromUtf8(QByteArray(row).replace('\r', QByteArray()));
    return text;
}

QString OutputFileView::selectedText() const
{
    const Position start = qMin(m_anchor, m_cursor);
    const Position end = qMax(m_anchor, m_cursor);
    QString text;
    const QList<QByteArray> rows = rowBytes(start.row, end.row - start.row + 1);
    for (qsizetype i = 0; i < rows.size(); ++i) {
        QString row = decoded(rows.at(i));
        if (start.row + i == end.row)
            row.truncate(end.column);
        if (i == 0)
            row.remove(0, start.column);
        text += row;
        if (start.row + i < end.row && rows.at(i).endsWith('\n'))
            text += QLatin1Char('\n');
    }
    return text;
}

void OutputFileView::select(const Position &anchor, const Position &cursor)
{
    m_anchor = anchor;
    m_cursor = cursor;
    viewport()->update();
    told(true);
}

void OutputFileView::showRow(qint64 row)
{
    QScrollBar *bar = verticalScrollBar();
    if (row < bar->value() || row >= bar->value() + rowsInView())
        bar->setValue(int(qMax<qint64>(0, row - rowsInView() / 2)));
}

void OutputFileView::goToLine(qint64 line)
{
    OutputIndex::Reader reader(m_index, &m_file, m_index.markBeforeLine(line));
    while (reader.next()) {
        if (reader.row().line >= line) {
            const Position at{ reader.row().row, 0 };
            select(at, at);
            showRow(at.row);
            return;
        }
    }
}

OutputFileView::Position OutputFileView::positionOf(qint64 offset) const
{
    OutputIndex::Reader reader(m_index, &m_file, m_index.markBeforeOffset(offset));
    while (reader.next()) {
        const QByteArray bytes = reader.bytes();
        if (offset < reader.row().offset + bytes.size())
            return { reader.row().row,
                     int(decoded(bytes.left(offset - reader.row().offset)).size()) };
    }
    return { qMax<qint64>(0, m_index.rowCount() - 1), 0 };
}

qint64 OutputFileView::offsetOf(const Position &position) const
{
    OutputIndex::Reader reader(m_index, &m_file, m_index.markBefore(position.row));
    while (reader.next()) {
        if (reader.row().row == position.row)
            return reader.row().offset
                    + decoded(reader.bytes()).left(position.column).toUtf8().size();
    }
    return m_index.size();
}

void OutputFileView::zoomIn(int steps)
{
    QFont bigger = font();
    bigger.setPointSizeF(qMax(4.0, bigger.pointSizeF() + steps));
    setFont(bigger);
    m_widest = 0;
    updateRange();
    viewport()->update();
}

bool OutputFileView::followsEnd() const
{
    return verticalScrollBar()->value() >= verticalScrollBar()->maximum();
}

QStringList OutputFileView::rowsInViewText() const
{
    QStringList rows;
    for (const QByteArray &row : rowBytes(firstRowInView(), rowsInView()))
        rows << decoded(row);
    return rows;
}

qint64 OutputFileView::firstRowInView() const
{
    return verticalScrollBar()->value();
}

QPoint OutputFileView::pointOf(const Position &position) const
{
    return { Margin - horizontalScrollBar()->value()
                     + fontMetrics().horizontalAdvance(rowText(position.row).left(position.column)),
             int(position.row - firstRowInView()) * rowHeight() };
}

void OutputFileView::told(bool cursorMoved)
{
    if (!QAccessible::isActive())
        return;
    if (cursorMoved) {
        QAccessibleTextCursorEvent event(
                this,
                QAccessible::queryAccessibleInterface(this)->textInterface()->cursorPosition());
        QAccessible::updateAccessibility(&event);
    } else {
        QAccessibleEvent event(this, QAccessible::VisibleDataChanged);
        QAccessible::updateAccessibility(&event);
    }
}

int OutputFileView::rowHeight() const
{
    return fontMetrics().lineSpacing();
}

int OutputFileView::rowsInView() const
{
    return qMax(1, viewport()->height() / rowHeight());
}

void OutputFileView::updateRange()
{
    const qint64 rows = m_index.rowCount();
    verticalScrollBar()->setPageStep(rowsInView());
    verticalScrollBar()->setSingleStep(1);
    verticalScrollBar()->setRange(0,
                                  int(qMin<qint64>(INT_MAX, qMax<qint64>(0, rows - rowsInView()))));
    horizontalScrollBar()->setPageStep(viewport()->width());
    horizontalScrollBar()->setSingleStep(fontMetrics().horizontalAdvance(QLatin1Char('x')));
    horizontalScrollBar()->setRange(0, qMax(0, m_widest + 2 * Margin - viewport()->width()));
}

void OutputFileView::resizeEvent(QResizeEvent *event)
{
    const bool follow = followsEnd();
    QAbstractScrollArea::resizeEvent(event);
    const QRect shown = viewport()->geometry();
    m_strip->setGeometry(shown.right() + 1, shown.top(), StripWidth, shown.height());
    updateRange();
    if (follow)
        verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

void OutputFileView::scrollContentsBy(int, int)
{
    viewport()->update();
    told(false);
}

void OutputFileView::paintEvent(QPaintEvent *)
{
    QPainter painter(viewport());
    painter.setFont(font());
    const QPalette &colours = palette();
    painter.fillRect(viewport()->rect(), colours.base());
    const int height = rowHeight();
    const qint64 first = verticalScrollBar()->value();
    const QList<QByteArray> rows = rowBytes(first, rowsInView() + 1);
    const Position start = qMin(m_anchor, m_cursor);
    const Position end = qMax(m_anchor, m_cursor);
    const int x = Margin - horizontalScrollBar()->value();
    const QFontMetrics metrics = fontMetrics();
    int widest = m_widest;
    for (qsizetype i = 0; i < rows.size(); ++i) {
        const qint64 row = first + i;
        const QString text = decoded(rows.at(i));
        const int y = int(i) * height;
        if (!(start == end) && row >= start.row && row <= end.row) {
            const int from = row == start.row ? start.column : 0;
            const int to = row == end.row ? end.column : int(text.size()) + 1;
            const int left = metrics.horizontalAdvance(text.left(from));
            const int right = metrics.horizontalAdvance(text.left(to))
                    + (to > text.size() ? metrics.averageCharWidth() : 0);
            painter.fillRect(x + left, y, right - left, height, colours.highlight());
        }
        painter.setPen(colours.text().color());
        painter.drawText(x, y + metrics.ascent(), text);
        widest = qMax(widest, metrics.horizontalAdvance(text));
    }
    if (hasFocus() && m_cursor.row >= first && m_cursor.row < first + rows.size()) {
        const QString text = decoded(rows.at(m_cursor.row - first));
        const int cx = x + metrics.horizontalAdvance(text.left(m_cursor.column));
        painter.fillRect(cx, int(m_cursor.row - first) * height, 1, height, colours.text());
    }
    if (!m_problem.isEmpty()) {
        const QRect band(0, viewport()->height() - height - 2 * Margin, viewport()->width(),
                         height + 2 * Margin);
        painter.fillRect(band, colours.toolTipBase());
        painter.setPen(colours.toolTipText().color());
        painter.drawText(band.adjusted(Margin, 0, -Margin, 0), Qt::AlignVCenter, m_problem);
    }
    if (widest > m_widest) {
        m_widest = widest;
        QTimer::singleShot(0, this, &OutputFileView::updateRange);
    }
}

OutputFileView::Position OutputFileView::positionAt(const QPoint &point) const
{
    const qint64 rows = m_index.rowCount();
    if (rows == 0)
        return {};
    const qint64 row = qBound(
            qint64(0), qint64(verticalScrollBar()->value() + point.y() / rowHeight()), rows - 1);
    const QString text = rowText(row);
    const int x = point.x() - Margin + horizontalScrollBar()->value();
    const QFontMetrics metrics = fontMetrics();
    // The first character whose middle is past the point; a row may be 4 KiB long, so halves.
    int low = 0;
    int high = int(text.size());
    while (low < high) {
        const int middle = (low + high) / 2;
        const int centre = metrics.horizontalAdvance(text.left(middle + 1))
                - metrics.horizontalAdvance(text.at(middle)) / 2;
        if (centre < x)
            low = middle + 1;
        else
            high = middle;
    }
    return { row, low };
}

void OutputFileView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return QAbstractScrollArea::mousePressEvent(event);
    m_cursor = positionAt(event->position().toPoint());
    if (!(event->modifiers() & Qt::ShiftModifier))
        m_anchor = m_cursor;
    viewport()->update();
}

void OutputFileView::mouseMoveEvent(QMouseEvent *event)
{
    if (!(event->buttons() & Qt::LeftButton))
        return;
    m_cursor = positionAt(event->position().toPoint());
    if (event->position().y() < 0)
        verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
    else if (event->position().y() > viewport()->height())
        verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    viewport()->update();
}

void OutputFileView::mouseDoubleClickEvent(QMouseEvent *event)
{
    // The word under the pointer.
    const Position at = positionAt(event->position().toPoint());
    const QString text = rowText(at.row);
    int from = at.column;
    int to = at.column;
    while (from > 0 && text.at(from - 1).isLetterOrNumber())
        --from;
    while (to < text.size() && text.at(to).isLetterOrNumber())
        ++to;
    select({ at.row, from }, { at.row, to });
}

void OutputFileView::keyPressEvent(QKeyEvent *event)
{
    if (event == QKeySequence::Copy)
        return copy();
    if (event == QKeySequence::SelectAll) {
        const qint64 last = qMax<qint64>(0, m_index.rowCount() - 1);
        return select({}, { last, int(rowText(last).size()) });
    }
    const qint64 rows = m_index.rowCount();
    Position next = m_cursor;
    const bool control = event->modifiers() & Qt::ControlModifier;
    switch (event->key()) {
    case Qt::Key_Up:
        next.row = qMax<qint64>(0, next.row - 1);
        break;
    case Qt::Key_Down:
        next.row = qMin<qint64>(qMax<qint64>(0, rows - 1), next.row + 1);
        break;
    case Qt::Key_PageUp:
        next.row = qMax<qint64>(0, next.row - rowsInView());
        break;
    case Qt::Key_PageDown:
        next.row = qMin<qint64>(qMax<qint64>(0, rows - 1), next.row + rowsInView());
        break;
    case Qt::Key_Left:
        next.column = qMax(0, next.column - 1);
        break;
    case Qt::Key_Right:
        next.column = qMin(int(rowText(next.row).size()), next.column + 1);
        break;
    case Qt::Key_Home:
        next = control ? Position() : Position{ next.row, 0 };
        break;
    case Qt::Key_End:
        next.row = control ? qMax<qint64>(0, rows - 1) : next.row;
        next.column = int(rowText(next.row).size());
        break;
    default:
        return QAbstractScrollArea::keyPressEvent(event);
    }
    next.column = qMin(next.column, int(rowText(next.row).size()));
    m_cursor = next;
    if (!(event->modifiers() & Qt::ShiftModifier))
        m_anchor = next;
    if (event->key() == Qt::Key_End && control)
        verticalScrollBar()->setValue(verticalScrollBar()->maximum());
    else
        showRow(next.row);
    viewport()->update();
}

bool OutputFileView::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_strip || event->type() != QEvent::Paint)
        return QAbstractScrollArea::eventFilter(watched, event);
    QPainter painter(m_strip);
    painter.fillRect(m_strip->rect(), palette().window());
    const qint64 size = qMax<qint64>(1, m_index.size());
    int last = -1;
    for (const qint64 mark : m_index.marks()) {
        const int y = int(mark * (m_strip->height() - 2) / size);
        // One tick a pixel row, however many words fall on it.
        if (y != last)
            painter.fillRect(0, y, StripWidth, 2, QColor(0xd0, 0x30, 0x20));
        last = y;
    }
    return true;
}

bool OutputFileView::goToMark(bool forward)
{
    const QList<qint64> &marks = m_index.marks();
    const qint64 rowStart = offsetOf({ m_cursor.row, 0 });
    const qint64 nextRow = offsetOf({ m_cursor.row + 1, 0 });
    const auto at = forward ? std::lower_bound(marks.cbegin(), marks.cend(), nextRow)
                            : std::lower_bound(marks.cbegin(), marks.cend(), rowStart);
    if (forward ? at == marks.cend() : at == marks.cbegin())
        return false;
    const Position word = positionOf(forward ? *at : *(at - 1));
    const int length
            = rowText(word.row).mid(word.column).startsWith(QLatin1String("WARNING")) ? 7 : 5;
    select(word, { word.row, word.column + length });
    showRow(word.row);
    return true;
}

void OutputFileView::copy()
{
    const qint64 size = offsetOf(qMax(m_anchor, m_cursor)) - offsetOf(qMin(m_anchor, m_cursor));
    if (size > CopyAsked
        && QMessageBox::question(
                   this, window()->windowTitle(),
                   tr("Copy %1 of output to the clipboard?")
                           .arg(QLocale().formattedDataSize(size, 1, QLocale::DataSizeSIFormat)),
                   QMessageBox::Yes | QMessageBox::Cancel)
                != QMessageBox::Yes)
        return;
    QGuiApplication::clipboard()->setText(selectedText());
}
