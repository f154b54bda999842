// SPDX-License-Identifier: GPL-3.0-or-later
#include "mainwindow/outputview.h"

#include "launcher/launcher.h"
#include "mainwindow/findbar.h"
#include "mainwindow/outputfileview.h"

#include <QFileInfo>
#include <QInputDialog>
#include <QLayout>
#include <QShortcut>
#include <QTabWidget>
#include <QTimer>

OutputView::OutputView(QTabWidget *tabs, OutputFileView *view, Launcher *launcher, QObject *parent)
    : QObject(parent)
    , m_tabs(tabs)
    , m_tab(tabs->widget(1))
    , m_view(view)
    , m_find_bar(new FindBar(view, m_tab))
    , m_tick(new QTimer(this))
{
    connect(m_tick, &QTimer::timeout, this, &OutputView::poll);
    connect(launcher, &Launcher::outputShown, this, &OutputView::showEarlier);
    connect(launcher, &Launcher::outputFollowed, this, &OutputView::follow);
    connect(launcher, &Launcher::outputRestarted, this, &OutputView::restart);
    connect(launcher, &Launcher::outputCompleted, this, &OutputView::complete);
    connect(launcher, &Launcher::outputToFront, this, &OutputView::bringToFront);
    auto *goTo = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_G), m_tab);
    connect(goTo, &QShortcut::activated, this, &OutputView::goToLine);
    // The next and the previous WARNING or ERROR.
    for (const bool forward : { true, false }) {
        auto *mark = new QShortcut(
                forward ? QKeySequence(Qt::Key_F8) : QKeySequence(Qt::SHIFT | Qt::Key_F8), m_tab);
        connect(mark, &QShortcut::activated, this, [this, forward] { m_view->goToMark(forward); });
    }
    tabs->removeTab(1);
    m_tab->layout()->addWidget(m_find_bar);
}

void OutputView::showEarlier(const QString &output)
{
    m_tick->stop();
    m_find_bar->cancel();
    // Only a regular file: opening a named pipe would wait for a writer.
    if (!QFileInfo(output).isFile()) {
        m_view->open(QString());
        if (m_tabs->indexOf(m_tab) >= 0)
            m_tabs->removeTab(m_tabs->indexOf(m_tab));
        return;
    }
    showTab();
    m_view->open(output);
}

void OutputView::follow(const QString &output)
{
    showTab();
    m_tabs->setCurrentWidget(m_tab);
    restart(output);
}

void OutputView::restart(const QString &output)
{
    m_find_bar->cancel();
    m_view->open(output);
    m_tick->start(200);
}

void OutputView::poll()
{
    m_view->refresh();
}

void OutputView::complete(const QString &output)
{
    m_tick->stop();
    if (output != m_view->path())
        m_view->open(output);
    m_view->complete();
}

void OutputView::bringToFront()
{
    if (m_tabs->indexOf(m_tab) >= 0)
        m_tabs->setCurrentWidget(m_tab);
}

void OutputView::goToLine()
{
    if (m_view->lineCount() == 0)
        return;
    bool ok = false;
    const int line = QInputDialog::getInt(m_tab, tr("Go to line"),
                                          tr("Line (1 to %1):").arg(m_view->lineCount()), 1, 1,
                                          int(qMin<qint64>(INT_MAX, m_view->lineCount())), 1, &ok);
    if (ok)
        m_view->goToLine(line - 1);
}

void OutputView::showTab()
{
    if (m_tabs->indexOf(m_tab) < 0)
        m_tabs->insertTab(1, m_tab, QStringLiteral("Output"));
}
