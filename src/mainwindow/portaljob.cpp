// SPDX-License-Identifier: GPL-3.0-or-later
#include "mainwindow/mainwindow.h"

#include "portal/folders.h"
#include "ui_mainwindow.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLocale>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

void MainWindow::importJobFile(const QString &l_path)
{
    ImportedJob job = JobFileImporter::import(l_path);
    if (!job.ok()) {
        critical(job.error);
        return;
    }
    // Declined: the new job's folder goes again and the current job stays.
    if (!releaseJobFolder())
        return;
    adoptJob(std::move(job));
    rememberFile(l_path);
}

void MainWindow::adoptJob(ImportedJob &&l_job)
{
    m_loaded = LoadedJob(l_job.deck, l_job.identity, std::move(l_job.folder));
    ui->toolButtonUpload->setEnabled(false);
    ui->lineEditTitle->setText(l_job.title);
    loadInputFile(l_job.deck);
    if (!l_job.program.isEmpty())
        ui->comboBoxProgram->setCurrentText(l_job.program);
    if (ui->spinBoxProcs->isEnabled())
        ui->spinBoxProcs->setValue(l_job.cores);
}

bool MainWindow::releaseJobFolder()
{
    if (!m_loaded.releaseMustAsk())
        return true;
    QMessageBox question(
            QMessageBox::Warning, windowTitle(),
            QStringLiteral("The job folder %1 holds results that have not been uploaded.")
                    .arg(m_loaded.workDir()),
            QMessageBox::Discard | QMessageBox::Cancel, this);
    QPushButton *keep = question.addButton(tr("Keep folder"), QMessageBox::AcceptRole);
    question.setDefaultButton(keep);
    question.exec();
    if (question.clickedButton() == keep)
        return keepJobFolder();
    return question.clickedButton() == question.button(QMessageBox::Discard);
}

bool MainWindow::keepJobFolder()
{
    // The system empties its temporary folder: the results go somewhere lasting.
    const QString path = m_loaded.workDir();
    const QString jobs = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)
            + QStringLiteral("/MOLTRA jobs/");
    QDir().mkpath(jobs);
    const QString target = QFileDialog::getSaveFileName(this, tr("Keep the job folder as"),
                                                        jobs + m_loaded.keptName(), QString(),
                                                        nullptr, QFileDialog::DontConfirmOverwrite);
    if (target.isEmpty())
        return false;
    QString error;
    if (!Folders::move(path, target, &error)) {
        critical(tr("The job folder could not be moved: %1.\nIt stays at %2.").arg(error, path));
        return false;
    }
    m_loaded.kept(target);
    QMessageBox::information(this, windowTitle(),
                             QStringLiteral("The job folder is kept: %1").arg(target));
    return true;
}

void MainWindow::setUploadUrl(const QUrl &l_url)
{
    m_uploader->setUrl(l_url);
}

void MainWindow::uploadOutput()
{
    if (m_uploader->isBusy())
        return;
    ui->toolButtonUpload->setEnabled(false);
    m_progress = new QProgressDialog(tr("Uploading job files to Farbo server..."), tr("Cancel"), 0,
                                     0, this);
    m_progress->setWindowModality(Qt::WindowModal);
    m_progress->setMinimumDuration(0);
    m_progress->setAutoClose(false);
    m_progress->setAutoReset(false);
    connect(m_progress, &QProgressDialog::canceled, m_uploader, &Uploader::cancel);
    // A modal progress dialog runs the event loop when its value changes, which the network
    // layer must not meet inside its own signals: the value is shown from a timer of its own.
    auto *shown = new QTimer(m_progress);
    connect(shown, &QTimer::timeout, m_progress, [this] {
        const qint64 sent = m_uploader->sent();
        const qint64 total = m_uploader->total();
        if (total > 0 && sent >= total) {
            m_progress->setLabelText(tr("Waiting for the portal's answer..."));
            m_progress->setRange(0, 0);
            return;
        }
        const QLocale locale;
        m_progress->setLabelText(
                tr("Uploading job files to Farbo server...\n%1 of %2")
                        .arg(locale.formattedDataSize(sent, 1, QLocale::DataSizeSIFormat),
                             locale.formattedDataSize(total, 1, QLocale::DataSizeSIFormat)));
        // Kibibytes: the dialog counts in int.
        m_progress->setMaximum(int(total / 1024));
        m_progress->setValue(int(sent / 1024));
    });
    shown->start(100);
    m_progress->show();
    setStatus(QStringLiteral("Uploading to Farbo..."));
    m_uploader->upload(m_loaded.workDir(), m_loaded.identity());
}

void MainWindow::uploadOutputReply(const Uploader::Outcome &l_outcome)
{
    if (m_progress) {
        // Its timers end before any box opens: a value set later, or the dialog's own timer
        // that shows it after a while, would show it again over the box, and block both.
        for (QTimer *timer : m_progress->findChildren<QTimer *>())
            timer->stop();
        m_progress->disconnect(this);
        m_progress->hide();
        m_progress->deleteLater();
    }
    ui->toolButtonUpload->setEnabled(m_loaded.isPortalJob() && !isRunning());
    if (l_outcome.cancelled) {
        setStatus(QStringLiteral("Upload cancelled"));
    } else if (l_outcome.success) {
        m_loaded.uploaded();
        setStatus(QStringLiteral("Uploaded to Farbo"));
        QMessageBox::information(this, windowTitle(), l_outcome.message);
    } else {
        setStatus(QStringLiteral("Upload failed"));
        critical(l_outcome.message);
    }
}
