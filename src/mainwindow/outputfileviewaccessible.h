// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef OUTPUTFILEVIEWACCESSIBLE_H
#define OUTPUTFILEVIEWACCESSIBLE_H

#include "mainwindow/outputfileview.h"

#include <QAccessibleWidget>

// What screen readers get of the view: the rows in view as its text, with the cursor and the
// selection where they fall among them.
class OutputFileViewAccessible : public QAccessibleWidget, public QAccessibleTextInterface
{
public:
    // The interface of an output view, for the factory of accessible interfaces.
    static QAccessibleInterface *create(const QString &className, QObject *object);

    explicit OutputFileViewAccessible(OutputFileView *view)
        : QAccessibleWidget(view, QAccessible::EditableText)
    { }

    void *interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface *>(this);
        return QAccessibleWidget::interface_cast(type);
    }
    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.readOnly = true;
        state.multiLine = true;
        state.selectableText = true;
        return state;
    }

    QString text(int start, int end) const override { return shown().mid(start, end - start); }
    int characterCount() const override { return int(shown().size()); }
    int cursorPosition() const override { return offsetOf(view()->cursor()); }
    void setCursorPosition(int position) override
    {
        const OutputFileView::Position at = positionOf(position);
        view()->select(at, at);
    }
    int selectionCount() const override
    {
        const auto [anchor, cursor] = view()->selection();
        return anchor == cursor ? 0 : 1;
    }
    void selection(int index, int *start, int *end) const override
    {
        *start = *end = 0;
        if (index != 0 || selectionCount() == 0)
            return;
        const auto [anchor, cursor] = view()->selection();
        *start = offsetOf(qMin(anchor, cursor));
        *end = offsetOf(qMax(anchor, cursor));
    }
    void addSelection(int start, int end) override { setSelection(0, start, end); }
    void removeSelection(int) override { view()->select(view()->cursor(), view()->cursor()); }
    void setSelection(int, int start, int end) override
    {
        view()->select(positionOf(start), positionOf(end));
    }
    QRect characterRect(int offset) const override
    {
        const QPoint at = view()->pointOf(positionOf(offset));
        const QFontMetrics metrics = view()->fontMetrics();
        const QPoint global = view()->viewport()->mapToGlobal(at);
        return { global, QSize(metrics.averageCharWidth(), metrics.height()) };
    }
    int offsetAtPoint(const QPoint &point) const override
    {
        return offsetOf(view()->positionAt(view()->viewport()->mapFromGlobal(point)));
    }
    void scrollToSubstring(int start, int) override { view()->showRow(positionOf(start).row); }
    QString attributes(int offset, int *start, int *end) const override
    {
        *start = *end = offset;
        return QString();
    }

private:
    OutputFileView *view() const { return static_cast<OutputFileView *>(widget()); }
    QString shown() const { return view()->rowsInViewText().join(QLatin1Char('\n')); }
    // Offsets count the characters of the rows in view, a line feed between rows; places
    // outside the view fall on its first or last character.
    int offsetOf(const OutputFileView::Position &position) const
    {
        const QStringList rows = view()->rowsInViewText();
        const qint64 row = position.row - view()->firstRowInView();
        if (row < 0)
            return 0;
        int offset = 0;
        for (qint64 i = 0; i < row && i < rows.size(); ++i)
            offset += int(rows.at(i).size()) + 1;
        return row < rows.size() ? offset + qMin(position.column, int(rows.at(row).size()))
                                 : qMax(0, offset - 1);
    }
    OutputFileView::Position positionOf(int offset) const
    {
        const QStringList rows = view()->rowsInViewText();
        qint64 row = view()->firstRowInView();
        for (const QString &text : rows) {
            if (offset <= text.size())
                return { row, qMax(0, offset) };
            offset -= int(text.size()) + 1;
            ++row;
        }
        return { qMax<qint64>(0, row - 1), rows.isEmpty() ? 0 : int(rows.last().size()) };
    }
};

#endif
