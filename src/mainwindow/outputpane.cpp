// SPDX-License-Identifier: GPL-3.0-or-later
#include "mainwindow/outputpane.h"

#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextCursor>

namespace {
// A slice inserts for at most this long, in pieces of whole lines of about this size: the
// pane's cost is per line, and an insert of this size takes about a millisecond.
constexpr qint64 SliceNs = 8'000'000;
constexpr qsizetype PieceSize = 16 * 1024;
}

OutputPane::OutputPane(QPlainTextEdit *pane)
    : QObject(pane)
    , m_pane(pane)
{
    setObjectName(QStringLiteral("outputPane"));
    // A zero-interval timer of its own runs after the timers that are due, so that the slices
    // leave room to the rest of the window.
    m_timer.setSingleShot(true);
    m_timer.setInterval(0);
    connect(&m_timer, &QTimer::timeout, this, [this] { insertSlice(SliceNs); });
}

void OutputPane::take(const OutputFollower::Update &update)
{
    if (update.change == OutputFollower::Change::None)
        return;
    if (update.change == OutputFollower::Change::Replace)
        clear();
    // Characters taken back come off what is still queued first, then off the pane.
    const int fromQueue = int(qMin<qsizetype>(update.dropTrailing, m_queue.size()));
    m_queue.chop(fromQueue);
    if (const int fromPane = update.dropTrailing - fromQueue; fromPane > 0) {
        QTextCursor cursor(m_pane->document());
        cursor.movePosition(QTextCursor::End);
        cursor.setPosition(cursor.position() - fromPane, QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
    }
    m_queue += update.text;
    if (!m_queue.isEmpty())
        m_timer.start();
}

void OutputPane::drain()
{
    m_timer.stop();
    insertSlice(-1);
}

void OutputPane::clear()
{
    m_timer.stop();
    m_queue.clear();
    m_pane->clear();
}

void OutputPane::insertSlice(qint64 budgetNs)
{
    QElapsedTimer elapsed;
    elapsed.start();
    QScrollBar *bar = m_pane->verticalScrollBar();
    const bool following = bar->value() == bar->maximum();
    QTextCursor cursor(m_pane->document());
    cursor.movePosition(QTextCursor::End);
    qsizetype taken = 0;
    while (taken < m_queue.size() && (budgetNs < 0 || elapsed.nsecsElapsed() < budgetNs)) {
        qsizetype size = qMin(PieceSize, m_queue.size() - taken);
        const qsizetype lineEnd = m_queue.lastIndexOf(QLatin1Char('\n'), taken + size - 1);
        if (taken + size < m_queue.size() && lineEnd >= taken)
            size = lineEnd + 1 - taken;
        // One edit block: the pane lays out the new lines once, not line by line.
        cursor.beginEditBlock();
        cursor.insertText(m_queue.mid(taken, size));
        cursor.endEditBlock();
        taken += size;
    }
    m_queue.remove(0, taken);
    if (following)
        bar->setValue(bar->maximum());
    if (!m_queue.isEmpty())
        m_timer.start();
}
