// SPDX-License-Identifier: GPL-3.0-or-later
#include "mainwindow/outputview.h"

#include "mainwindow/findbar.h"
#include "mainwindow/outputpane.h"

#include <QFileInfo>
#include <QLayout>
#include <QPlainTextEdit>
#include <QTabWidget>

OutputView::OutputView(QTabWidget *tabs, QPlainTextEdit *pane, QObject *parent)
    : QObject(parent)
    , m_tabs(tabs)
    , m_tab(tabs->widget(1))
    , m_pane(new OutputPane(pane))
    , m_find_bar(new FindBar(pane, m_tab))
{
    tabs->removeTab(1);
    // The pane only ever shows a file; an undo history of it would hold a second copy.
    pane->setUndoRedoEnabled(false);
    m_tab->layout()->addWidget(m_find_bar);
}

void OutputView::showEarlier(const QString &output)
{
    m_pane->clear();
    m_follower.reset();
    // Only a regular file: opening a named pipe would wait for a writer.
    if (!QFileInfo(output).isFile()) {
        if (m_tabs->indexOf(m_tab) >= 0)
            m_tabs->removeTab(m_tabs->indexOf(m_tab));
        return;
    }
    showTab();
    m_pane->take(OutputFollower::endOf(output, EarlierOutputShown));
}

void OutputView::follow()
{
    showTab();
    m_tabs->setCurrentWidget(m_tab);
    m_pane->clear();
    m_follower.reset();
}

void OutputView::poll(const QString &output)
{
    if (!output.isEmpty())
        m_pane->take(m_follower.poll(output));
}

void OutputView::complete(const QString &output)
{
    poll(output);
    m_pane->drain();
}

void OutputView::bringToFront()
{
    if (m_tabs->indexOf(m_tab) >= 0)
        m_tabs->setCurrentWidget(m_tab);
}

void OutputView::showTab()
{
    if (m_tabs->indexOf(m_tab) < 0)
        m_tabs->insertTab(1, m_tab, QStringLiteral("Output"));
}
