// SPDX-License-Identifier: GPL-3.0-or-later
#include "mainwindow/runcontrols.h"

#include "ui_mainwindow.h"

#include <QGuiApplication>
#include <QMovie>

RunControls::RunControls(Ui::MainWindow *ui, QObject *parent)
    : QObject(parent)
    , ui(ui)
    , m_loader(new QMovie(QStringLiteral(":/loader.gif"), QByteArray(), this))
{
    ui->labelLoader->setMovie(m_loader);
    ui->labelLoader->hide();
}

RunControls::~RunControls()
{
    if (m_busy_cursor)
        QGuiApplication::restoreOverrideCursor();
}

void RunControls::showRunning(bool stopping, bool here)
{
    // Results that are still being written are not sent.
    ui->toolButtonUpload->setEnabled(false);
    ui->toolButtonStart->setText(QStringLiteral("Stop"));
    ui->toolButtonStart->setIcon(QIcon(QStringLiteral(":/stop.png")));
    ui->toolButtonStart->setEnabled(!stopping);
    if (here && !m_busy_cursor)
        QGuiApplication::setOverrideCursor(Qt::BusyCursor);
    m_busy_cursor = m_busy_cursor || here;
    ui->labelLoader->show();
    m_loader->start();
}

void RunControls::showStopping()
{
    ui->toolButtonStart->setEnabled(false);
}

void RunControls::showIdle(bool uploadable)
{
    m_loader->stop();
    ui->labelLoader->hide();
    ui->toolButtonStart->setIcon(QIcon(QStringLiteral(":/play.png")));
    ui->toolButtonChoose->setEnabled(true);
    ui->toolButtonStart->setEnabled(true);
    ui->toolButtonStart->setText(QStringLiteral("Start"));
    if (uploadable)
        ui->toolButtonUpload->setEnabled(true);
    if (m_busy_cursor)
        QGuiApplication::restoreOverrideCursor();
    m_busy_cursor = false;
}
