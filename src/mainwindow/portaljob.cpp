// SPDX-License-Identifier: GPL-3.0-or-later
#include "mainwindow/mainwindow.h"

#include "job/jobmanager.h"
#include "mainwindow/recentfiles.h"
#include "mainwindow/uploadprogress.h"
#include "portal/folders.h"
#include "ui_mainwindow.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>

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
    m_recent_files->remember(l_path);
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
    m_jobs->folderMoved(path, target);
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
    m_progress = new UploadProgress(m_uploader, this);
    m_progress->show();
    setStatus(QStringLiteral("Uploading to Farbo..."));
    m_uploader->upload(m_loaded.workDir(), m_loaded.identity());
}

void MainWindow::uploadOutputReply(const Uploader::Outcome &l_outcome)
{
    if (m_progress)
        m_progress->dismiss();
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
