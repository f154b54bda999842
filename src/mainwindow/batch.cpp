// SPDX-License-Identifier: GPL-3.0-or-later
#include "mainwindow/mainwindow.h"

#include "job/jobmanager.h"
#include "job/jobplanner.h"
#include "job/programcatalog.h"
#include "mainwindow/notifier.h"
#include "mainwindow/runon.h"
#include "settings/settingskeys.h"
#include "ui_mainwindow.h"

#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QSettings>

Job MainWindow::plannedJob(const QString &l_deck, const QString &l_program, int l_cores,
                           const QString &l_where, QString *l_refusal) const
{
    const QFileInfo info(l_deck);
    const Program *known = ProgramCatalog::find(l_program);
    Job job;
    job.deck = info.absoluteFilePath();
    job.workDir = info.absolutePath();
    job.program = l_program;
    job.cores = known && known->parallel ? l_cores : 1;
    job.where = l_where;
    QFile file(job.deck);
    if (file.open(QIODevice::ReadOnly | QIODevice::Text))
        job.title = QString::fromUtf8(file.readLine()).trimmed();
    const PackageConfig local = SettingsKeys::packageConfig(*m_settings);
    const PlannedJob planned = JobPlanner::plan(m_run_on->packageConfig(local, l_where), l_program,
                                                job.deck, job.workDir, job.cores);
    job.plan = planned.plan;
    *l_refusal = JobFileImporter::refusal(job.deck);
    if (l_refusal->isEmpty())
        *l_refusal = planned.refusal;
    if (!l_refusal->isEmpty())
        *l_refusal = tr("%1: %2").arg(info.fileName(), *l_refusal);
    return job;
}

void MainWindow::startEach(const QList<Job> &l_jobs, QStringList l_refused)
{
    QList<qint64> started;
    for (const Job &job : l_jobs) {
        QString error;
        if (const qint64 id = m_jobs->start(job, &error))
            started << id;
        else
            l_refused << tr("%1: %2").arg(QFileInfo(job.deck).fileName(), error);
    }
    // Told of once the last of them has ended.
    m_notifier->addBatch(started);
    setStatus(tr("%1 jobs started or queued; the Jobs tab lists them").arg(started.size()));
    if (!l_refused.isEmpty())
        critical(tr("%1 of the decks cannot run.").arg(l_refused.size()),
                 l_refused.join(QLatin1Char('\n')));
}

void MainWindow::runBatch(const QStringList &l_decks)
{
    const QString shown = ui->comboBoxProgram->currentText();
    const QString where = m_run_on->where();
    QList<Job> batch;
    QStringList refused;
    int cores = 1;
    for (const QString &deck : l_decks) {
        // The program shown where it runs this kind of deck, else the kind's first.
        const QStringList programs = ProgramCatalog::namesForDeck(QFileInfo(deck).suffix());
        const QString program = programs.contains(shown) ? shown : programs.value(0);
        QString refusal;
        const Job job = plannedJob(deck, program, ui->spinBoxProcs->value(), where, &refusal);
        if (!refusal.isEmpty()) {
            refused << refusal;
            continue;
        }
        cores = qMax(cores, job.cores);
        batch.append(job);
    }
    const QString question = (cores == 1 ? tr("Run %1 decks on %2, 1 core each?")
                                         : tr("Run %1 decks on %2, %3 cores each?").arg(cores))
                                     .arg(batch.size())
                                     .arg(placeName(where));
    if (!batch.isEmpty()
        && QMessageBox::question(this, windowTitle(), question,
                                 QMessageBox::Yes | QMessageBox::Cancel)
                != QMessageBox::Yes)
        return;
    startEach(batch, refused);
}

void MainWindow::runAgain(const QList<qint64> &l_ids)
{
    // One job comes back into the window, as if started there.
    if (l_ids.size() == 1) {
        const qint64 id = l_ids.first();
        loadJob(id);
        const Job *job = m_jobs->find(id);
        if (m_current == id && job && !Jobs::isActive(job->state))
            startJob();
        return;
    }
    QList<Job> again;
    QStringList refused;
    for (const qint64 id : l_ids) {
        const Job *earlier = m_jobs->find(id);
        if (!earlier)
            continue;
        QString refusal;
        Job job = plannedJob(earlier->deck, earlier->program, earlier->cores, earlier->where,
                             &refusal);
        job.title = earlier->title;
        job.portal = earlier->portal;
        if (refusal.isEmpty())
            again << job;
        else
            refused << refusal;
    }
    startEach(again, refused);
}
