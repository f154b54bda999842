// SPDX-License-Identifier: GPL-3.0-or-later
#include "mainwindow/mainwindow.h"

#include "job/jobmanager.h"
#include "job/jobplanner.h"
#include "job/programcatalog.h"
#include "mainwindow/runon.h"
#include "settings/settingskeys.h"
#include "ui_mainwindow.h"

#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QSettings>

void MainWindow::runBatch(const QStringList &l_decks)
{
    const QString shown = ui->comboBoxProgram->currentText();
    const QString where = m_run_on->where();
    const PackageConfig package = m_run_on->packageConfig(SettingsKeys::packageConfig(*m_settings));
    QList<Job> batch;
    QStringList refused;
    int cores = 1;
    for (const QString &deck : l_decks) {
        const QFileInfo info(deck);
        // The program shown where it runs this kind of deck, else the kind's first.
        const QStringList programs = ProgramCatalog::namesForDeck(info.suffix());
        const QString program = programs.contains(shown) ? shown : programs.value(0);
        const Program *known = ProgramCatalog::find(program);
        Job job;
        job.deck = info.absoluteFilePath();
        job.workDir = info.absolutePath();
        job.program = program;
        job.cores = known && known->parallel ? ui->spinBoxProcs->value() : 1;
        job.where = where;
        QFile file(job.deck);
        if (file.open(QIODevice::ReadOnly | QIODevice::Text))
            job.title = QString::fromUtf8(file.readLine()).trimmed();
        const PlannedJob planned
                = JobPlanner::plan(package, program, job.deck, job.workDir, job.cores);
        job.plan = planned.plan;
        const QString refusal = JobFileImporter::refusal(job.deck);
        if (!refusal.isEmpty() || !planned.refusal.isEmpty()) {
            refused << tr("%1: %2").arg(info.fileName(),
                                        refusal.isEmpty() ? planned.refusal : refusal);
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
    int queued = 0;
    for (const Job &job : std::as_const(batch)) {
        QString error;
        if (m_jobs->start(job, &error))
            ++queued;
        else
            refused << tr("%1: %2").arg(QFileInfo(job.deck).fileName(), error);
    }
    setStatus(tr("%1 jobs started or queued on %2; the Jobs tab lists them")
                      .arg(queued)
                      .arg(placeName(where)));
    if (!refused.isEmpty())
        critical(tr("%1 of the decks cannot run.").arg(refused.size()),
                 refused.join(QLatin1Char('\n')));
}
