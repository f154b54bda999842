// SPDX-License-Identifier: GPL-3.0-or-later
#include "mainwindow/mainwindow.h"

#include "mainwindow/jobfolderquestion.h"
#include "mainwindow/recentfiles.h"
#include "mainwindow/uploadprogress.h"
#include "ui_mainwindow.h"

#include <QMessageBox>
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
    // Also for a serial program: a parallel build chosen next runs on the job's cores.
    ui->spinBoxProcs->setValue(l_job.cores);
    // The imported deck is what there is to see, whichever tab was open.
    ui->tabWidget->setCurrentWidget(ui->tab);
}

bool MainWindow::releaseJobFolder()
{
    return JobFolderQuestion::release(this, m_loaded, m_jobs);
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
