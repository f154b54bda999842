// SPDX-License-Identifier: GPL-3.0-or-later
#include "mainwindow/outputview.h"

#include "launcher/launcher.h"
#include "mainwindow/findbar.h"
#include "mainwindow/outputpane.h"

#include <QFileInfo>
#include <QLayout>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTimer>

OutputView::OutputView(QTabWidget *tabs, QPlainTextEdit *pane, Launcher *launcher, QObject *parent)
    : QObject(parent)
    , m_tabs(tabs)
    , m_tab(tabs->widget(1))
    , m_pane(new OutputPane(pane))
    , m_find_bar(new FindBar(pane, m_tab))
    , m_tick(new QTimer(this))
{
    connect(m_tick, &QTimer::timeout, this, &OutputView::poll);
    connect(launcher, &Launcher::outputShown, this, &OutputView::showEarlier);
    connect(launcher, &Launcher::outputFollowed, this, &OutputView::follow);
    connect(launcher, &Launcher::outputRestarted, this, &OutputView::restart);
    connect(launcher, &Launcher::outputCompleted, this, &OutputView::complete);
    connect(launcher, &Launcher::outputToFront, this, &OutputView::bringToFront);
    tabs->removeTab(1);
    // The pane only ever shows a file; an undo history of it would hold a second copy.
    pane->setUndoRedoEnabled(false);
    m_tab->layout()->addWidget(m_find_bar);
}

void OutputView::showEarlier(const QString &output)
{
    m_tick->stop();
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

void OutputView::follow(const QString &output)
{
    showTab();
    m_tabs->setCurrentWidget(m_tab);
    m_pane->clear();
    restart(output);
}

void OutputView::restart(const QString &output)
{
    m_follower.reset();
    m_followed = output;
    m_tick->start(200);
}

void OutputView::poll()
{
    if (!m_followed.isEmpty())
        m_pane->take(m_follower.poll(m_followed));
}

void OutputView::complete(const QString &output)
{
    m_tick->stop();
    m_followed = output;
    poll();
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
