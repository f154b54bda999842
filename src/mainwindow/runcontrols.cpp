// SPDX-License-Identifier: GPL-3.0-or-later
#include "mainwindow/runcontrols.h"

#include "launcher/launcher.h"
#include "ui_mainwindow.h"

#include <QGuiApplication>
#include <QMovie>
#include <QTimer>

RunControls::RunControls(Ui::MainWindow *ui, Launcher *launcher, QObject *parent)
    : QObject(parent)
    , ui(ui)
    , m_loader(new QMovie(QStringLiteral(":/loader.gif"), QByteArray(), this))
    , m_clock(new QTimer(this))
{
    ui->labelLoader->setMovie(m_loader);
    ui->labelLoader->hide();
    ui->spinBoxProcs->setEnabled(false);
    ui->toolButtonStart->setEnabled(false);
    ui->toolButtonOpenWorkdir->setEnabled(false);
    ui->toolButtonOpenInEditor->setEnabled(false);
    ui->toolButtonUpload->setEnabled(false);
    connect(m_clock, &QTimer::timeout, this, &RunControls::showClock);
    connect(launcher, &Launcher::runShown, this, &RunControls::show);
    connect(launcher, &Launcher::statusChanged, this, &RunControls::showStatus);
}

RunControls::~RunControls()
{
    if (m_busy_cursor)
        QGuiApplication::restoreOverrideCursor();
}

void RunControls::show(const RunShown &run)
{
    const bool idle = run.state == RunShown::State::Idle;
    // Results that are still being written are not sent.
    ui->toolButtonUpload->setEnabled(run.uploadable);
    ui->toolButtonStart->setText(idle ? QStringLiteral("Start") : QStringLiteral("Stop"));
    ui->toolButtonStart->setIcon(
            QIcon(idle ? QStringLiteral(":/play.png") : QStringLiteral(":/stop.png")));
    ui->toolButtonStart->setEnabled(run.state != RunShown::State::Stopping);
    ui->labelLoader->setVisible(!idle);
    if (idle)
        m_loader->stop();
    else
        m_loader->start();
    const bool busy = !idle && run.here;
    if (busy && !m_busy_cursor)
        QGuiApplication::setOverrideCursor(Qt::BusyCursor);
    else if (!busy && m_busy_cursor)
        QGuiApplication::restoreOverrideCursor();
    m_busy_cursor = busy;
}

void RunControls::showStatus(const QString &text, const QDateTime &since)
{
    m_status = text;
    m_since = since;
    if (since.isValid())
        m_clock->start(1000);
    else
        m_clock->stop();
    showClock();
}

void RunControls::showClock()
{
    const QString text = m_since.isValid() ? m_status + QStringLiteral(", ")
                    + Jobs::durationText(m_since.secsTo(QDateTime::currentDateTime()))
                                           : m_status;
    ui->labelStatus->setText(text);
    ui->labelStatus->setToolTip(text);
}
