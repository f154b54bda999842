// SPDX-License-Identifier: GPL-3.0-or-later
#include "mainwindow/findbar.h"

#include "mainwindow/outputfileview.h"

#include <QCheckBox>
#include <QFutureWatcher>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <QToolButton>
#include <QtConcurrent>

namespace {
QToolButton *barButton(const QString &text, const QKeySequence &key, const QString &name,
                       QWidget *parent)
{
    auto *button = new QToolButton(parent);
    button->setObjectName(name);
    button->setText(text);
    button->setShortcut(key);
    button->setToolTip(QStringLiteral("%1 (%2)").arg(text, key.toString(QKeySequence::NativeText)));
    return button;
}
}

FindBar::FindBar(OutputFileView *view, QWidget *parent)
    : QWidget(parent)
    , m_view(view)
    , m_text(new QLineEdit(this))
    , m_match_case(new QCheckBox(tr("Match case"), this))
    , m_result(new QLabel(this))
    , m_progress_shown(new QTimer(this))
{
    setObjectName(QStringLiteral("findBar"));
    m_text->setObjectName(QStringLiteral("lineEditFind"));
    m_text->setPlaceholderText(tr("Find in the output"));
    m_match_case->setObjectName(QStringLiteral("checkBoxMatchCase"));
    // F3: Ctrl+G goes to a line.
    auto *next = barButton(tr("Next"), QKeySequence(Qt::Key_F3),
                           QStringLiteral("toolButtonFindNext"), this);
    auto *previous = barButton(tr("Previous"), QKeySequence(Qt::SHIFT | Qt::Key_F3),
                               QStringLiteral("toolButtonFindPrevious"), this);
    auto *close = barButton(tr("Close"), QKeySequence(Qt::Key_Escape),
                            QStringLiteral("toolButtonFindClose"), this);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 6, 0, 0);
    layout->addWidget(m_text, 1);
    layout->addWidget(previous);
    layout->addWidget(next);
    layout->addWidget(m_match_case);
    layout->addWidget(m_result);
    layout->addWidget(close);
    connect(m_text, &QLineEdit::returnPressed, this, [this] { find(false); });
    connect(next, &QToolButton::clicked, this, [this] { find(false); });
    connect(previous, &QToolButton::clicked, this, [this] { find(true); });
    connect(close, &QToolButton::clicked, this, [this] {
        cancel();
        hide();
        m_view->setFocus();
    });
    connect(m_progress_shown, &QTimer::timeout, this, [this] {
        const qint64 whole = qMax<qint64>(1, m_request.to - m_request.from);
        m_result->setText(
                tr("Searching... %1 %").arg(qMin<qint64>(100, *m_progress * 100 / whole)));
    });
    hide();
}

FindBar::~FindBar()
{
    cancel();
}

void FindBar::open()
{
    show();
    m_text->setFocus();
    m_text->selectAll();
}

void FindBar::cancel()
{
    if (m_cancel)
        *m_cancel = true;
    if (m_watcher) {
        m_watcher->disconnect(this);
        // The thread ends at its next block; its result is not wanted.
        connect(m_watcher, &QFutureWatcherBase::finished, m_watcher, &QObject::deleteLater);
        if (m_watcher->isFinished())
            m_watcher->deleteLater();
        m_watcher = nullptr;
    }
    m_progress_shown->stop();
    m_result->clear();
}

void FindBar::find(bool backward)
{
    cancel();
    const QString text = m_text->text();
    if (text.isEmpty() || m_view->path().isEmpty())
        return;
    const auto [anchor, cursor] = m_view->selection();
    OutputSearch::Request request;
    request.path = m_view->path();
    request.text = text;
    request.matchCase = m_match_case->isChecked();
    request.backward = backward;
    // From the selection on: past its start going forward, before it going back.
    const qint64 selected = m_view->offsetOf(qMin(anchor, cursor));
    request.from = backward ? 0 : (anchor == cursor ? selected : selected + 1);
    request.to = backward ? selected + text.toUtf8().size() - 1 : m_view->size();
    m_wrapped = false;
    start(request);
}

void FindBar::start(const OutputSearch::Request &request)
{
    m_request = request;
    m_cancel = std::make_shared<std::atomic_bool>(false);
    m_progress = std::make_shared<std::atomic<qint64>>(0);
    m_watcher = new QFutureWatcher<qint64>(this);
    connect(m_watcher, &QFutureWatcherBase::finished, this,
            [this] { searched(m_watcher->result()); });
    m_watcher->setFuture(QtConcurrent::run([request, cancel = m_cancel, progress = m_progress] {
        return OutputSearch::find(request, *cancel, [progress](qint64 done) { *progress = done; });
    }));
    if (request.to - request.from > ProgressShown)
        m_progress_shown->start(100);
}

void FindBar::searched(qint64 offset)
{
    m_watcher->deleteLater();
    m_watcher = nullptr;
    m_progress_shown->stop();
    if (offset < 0 && !m_wrapped) {
        // Once more from the other end, up to where this search began.
        OutputSearch::Request rest = m_request;
        const qint64 needle = rest.text.toUtf8().size();
        rest.from = rest.backward ? rest.to - needle + 1 : 0;
        rest.to = rest.backward ? m_view->size() : m_request.from + needle - 1;
        m_wrapped = true;
        return start(rest);
    }
    m_result->setText(offset < 0 ? tr("Not found") : QString());
    if (offset >= 0) {
        const OutputFileView::Position from = m_view->positionOf(offset);
        const OutputFileView::Position to
                = m_view->positionOf(offset + m_request.text.toUtf8().size());
        m_view->select(from, to);
        m_view->showRow(from.row);
    }
    Q_EMIT finished(offset >= 0);
}
