// SPDX-License-Identifier: GPL-3.0-or-later
#include "mainwindow/mainwindow.h"

#include "job/jobmanager.h"
#include "job/localbackend.h"
#include "job/programcatalog.h"
#include "mainwindow/jobstab.h"
#include "mainwindow/outputview.h"
#include "mainwindow/runon.h"
#include "settings/settingskeys.h"
#include "ui_mainwindow.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTimer>

void MainWindow::setUpJobs()
{
    const QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    // The step wrapper is installed beside the launcher, or in its libexec folder.
    const QString bin = QCoreApplication::applicationDirPath();
    QString wrapper = bin + QStringLiteral("/moltra-step");
    if (!QFileInfo(wrapper).isExecutable())
        wrapper = bin + QStringLiteral("/../libexec/moltra-farbo-starter/moltra-step");
    m_jobs = new JobManager(data + QStringLiteral("/jobs.sqlite"), this,
                            QFileInfo(wrapper).isExecutable() ? wrapper : QString());
    m_jobs_tab = new JobsTab(ui->tableViewJobs, ui->lineEditJobsFilter, ui->labelJobCounts, m_jobs,
                             this);
    connect(ui->tabWidget, &QTabWidget::currentChanged, this, [this] {
        if (ui->tabWidget->currentWidget() == ui->tabJobs)
            m_jobs_tab->fill();
    });
    connect(m_jobs_tab, &JobsTab::loadRequested, this, &MainWindow::loadJob);
    connect(m_jobs_tab, &JobsTab::runAgainRequested, this, &MainWindow::runAgain);
    connect(m_jobs_tab, &JobsTab::stopRequested, this, [this](const QList<qint64> &ids) {
        // Queued jobs have nothing running to lose; the question is asked once for the others.
        const bool running = std::any_of(ids.cbegin(), ids.cend(), [this](qint64 id) {
            const Job *job = m_jobs->find(id);
            return job && !job->waits();
        });
        if (running && !confirmStop())
            return;
        for (const qint64 id : ids) {
            const Job *job = m_jobs->find(id);
            if (job && job->state != Jobs::State::Stopping)
                m_jobs->stop(id);
        }
    });
    connect(m_jobs_tab, &JobsTab::failed, this, [this](const QString &text) { critical(text); });
    connect(m_jobs, &JobManager::ledgerFailed, this, &MainWindow::setStatus);
    m_run_on = new RunOn(ui->comboBoxRunOn, m_jobs, m_settings, this);
    connect(m_jobs, &JobManager::backendNotice, this, &MainWindow::setStatus);
    connect(m_jobs, &JobManager::jobFetched, this, [this](qint64 id, const QString &problem) {
        const Job *job = m_jobs->find(id);
        if (!job)
            return;
        if (problem.isEmpty())
            setStatus(tr("The results were copied back from %1 into %2")
                              .arg(job->where, job->workDir));
        else
            critical(tr("The results were not copied back from %1: %2.").arg(job->where, problem));
    });
    // Said once: the launcher works on without its list of jobs, or with its own cores.
    QString problem = m_jobs->ledgerProblem();
    SettingsKeys::localLimits(*m_settings, problem.isEmpty() ? &problem : nullptr);
    // Jobs an earlier launcher left running go on under this one's eyes.
    const auto watched
            = std::count_if(m_jobs->jobs().cbegin(), m_jobs->jobs().cend(), [this](const Job &job) {
                  return job.where == Jobs::thisComputer() && Jobs::isActive(job.state)
                          && !job.waits() && !m_jobs->local()->runs(job.id);
              });
    if (problem.isEmpty() && watched > 0)
        problem = watched == 1 ? tr("A job started by an earlier launcher still runs on this "
                                    "computer; the Jobs tab lists it")
                               : tr("%1 jobs started by an earlier launcher still run on this "
                                    "computer; the Jobs tab lists them")
                                         .arg(watched);
    if (!problem.isEmpty())
        QTimer::singleShot(0, this, [this, problem] { setStatus(problem); });
}

void MainWindow::loadJob(qint64 l_id)
{
    const Job *job = m_jobs->find(l_id);
    if (!job)
        return;
    if (l_id == m_current && isRunning()) {
        m_output->bringToFront();
        return;
    }
    letGoOfJob();
    if (!QFileInfo::exists(job->deck)) {
        critical(tr("The input file %1 is not there any more.").arg(job->deck));
        return;
    }
    if (!releaseJobFolder())
        return;
    // A portal job whose folder is still there is that job again, and can be uploaded.
    m_loaded = job->portal.isPortalJob() ? LoadedJob(job->deck, job->portal) : LoadedJob(job->deck);
    m_current = l_id;
    const QString program = job->program;
    const int cores = job->cores;
    const bool active = Jobs::isActive(job->state);
    loadInputFile(job->deck);
    const Program *shown = ProgramCatalog::find(ui->comboBoxProgram->currentText());
    ui->lineEditTitle->setText(job->title);
    ui->comboBoxProgram->setCurrentText(program);
    m_run_on->setWhere(job->where);
    if (ui->spinBoxProcs->isEnabled())
        ui->spinBoxProcs->setValue(cores);
    ui->toolButtonUpload->setEnabled(m_loaded.isPortalJob() && !active);
    // A job an earlier launcher left running is followed as if started here.
    if (active) {
        enterRunningState();
        return;
    }
    // The earlier output of the job's own program, read again only where its name differs.
    const Program *chosen = ProgramCatalog::find(program);
    if (!shown || !chosen || shown->outputSuffix != chosen->outputSuffix)
        showDeckOutput();
    m_output->bringToFront();
}
