// SPDX-License-Identifier: GPL-3.0-or-later
#include "mainwindow/findbar.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextCursor>
#include <QToolButton>

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

FindBar::FindBar(QPlainTextEdit *pane, QWidget *parent)
    : QWidget(parent)
    , m_pane(pane)
    , m_text(new QLineEdit(this))
    , m_match_case(new QCheckBox(tr("Match case"), this))
    , m_result(new QLabel(this))
{
    setObjectName(QStringLiteral("findBar"));
    m_text->setObjectName(QStringLiteral("lineEditFind"));
    m_text->setPlaceholderText(tr("Find in the output"));
    m_match_case->setObjectName(QStringLiteral("checkBoxMatchCase"));
    auto *next = barButton(tr("Next"), QKeySequence(QKeySequence::FindNext),
                           QStringLiteral("toolButtonFindNext"), this);
    auto *previous = barButton(tr("Previous"), QKeySequence(QKeySequence::FindPrevious),
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
        hide();
        m_pane->setFocus();
    });
    hide();
}

void FindBar::open()
{
    show();
    m_text->setFocus();
    m_text->selectAll();
}

bool FindBar::find(bool backward)
{
    QTextDocument::FindFlags flags;
    if (backward)
        flags |= QTextDocument::FindBackward;
    if (m_match_case->isChecked())
        flags |= QTextDocument::FindCaseSensitively;
    const QString text = m_text->text();
    bool found = !text.isEmpty() && m_pane->find(text, flags);
    if (!found && !text.isEmpty()) {
        // Once more from the other end.
        const QTextCursor kept = m_pane->textCursor();
        m_pane->moveCursor(backward ? QTextCursor::End : QTextCursor::Start);
        found = m_pane->find(text, flags);
        if (!found)
            m_pane->setTextCursor(kept);
    }
    m_result->setText(found || text.isEmpty() ? QString() : tr("Not found"));
    return found;
}
