// SPDX-License-Identifier: GPL-3.0-or-later
#include "mainwindow/jobstab.h"

#include "job/jobmanager.h"
#include "mainwindow/jobsmodel.h"

#include <QDateTime>
#include <QDesktopServices>
#include <QFileInfo>
#include <QHeaderView>
#include <QLocale>
#include <QMenu>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QUrl>

JobsTab::JobsTab(QTableView *view, JobManager *jobs, QObject *parent)
    : QObject(parent)
    , m_view(view)
    , m_jobs(jobs)
{
    m_view->verticalHeader()->hide();
    m_view->verticalHeader()->setDefaultSectionSize(m_view->fontMetrics().height() + 6);
    m_view->horizontalHeader()->setStretchLastSection(true);
    m_view->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    // Enter, and a double click where the desktop activates items so.
    connect(m_view, &QTableView::activated, this,
            [this](const QModelIndex &index) { Q_EMIT loadRequested(jobAt(index.row())); });
    connect(m_view, &QTableView::customContextMenuRequested, this, &JobsTab::showMenu);
}

void JobsTab::fill()
{
    if (m_model)
        return;
    m_model = new JobsModel(m_jobs, this);
    m_sorted = new QSortFilterProxyModel(this);
    m_sorted->setSortRole(JobsModel::SortRole);
    m_sorted->setSourceModel(m_model);
    m_view->setModel(m_sorted);
    m_view->sortByColumn(JobsModel::Started, Qt::DescendingOrder);
    // Set once: sizing columns to their contents would measure every row.
    const QFontMetrics metrics = m_view->fontMetrics();
    const auto width
            = [&metrics](const QString &sample) { return metrics.horizontalAdvance(sample) + 16; };
    const QString started = QLocale().toString(QDateTime::currentDateTime(), QLocale::ShortFormat);
    m_view->setColumnWidth(JobsModel::State, width(QStringLiteral("Submitted")));
    m_view->setColumnWidth(JobsModel::Title, width(QString(16, QLatin1Char('x'))));
    m_view->setColumnWidth(JobsModel::Program, width(QStringLiteral("MPPmoltra")));
    m_view->setColumnWidth(JobsModel::Cores, width(QStringLiteral("Cores")));
    m_view->setColumnWidth(JobsModel::Where, width(tr("This computer")));
    m_view->setColumnWidth(JobsModel::Started, width(started));
    m_view->setColumnWidth(JobsModel::Duration, width(QStringLiteral("Duration")));
}

qint64 JobsTab::jobAt(int row) const
{
    if (!m_sorted)
        return 0;
    return m_sorted->index(row, 0).data(JobsModel::IdRole).toLongLong();
}

void JobsTab::showMenu(const QPoint &position)
{
    const QModelIndex index = m_view->indexAt(position);
    const Job *job = m_jobs->find(jobAt(index.row()));
    if (!index.isValid() || !job)
        return;
    const qint64 id = job->id;
    const QString workDir = job->workDir;
    const QString output = job->outputFile;
    const QString errors = job->errorFile;
    const bool active = Jobs::isActive(job->state);
    QMenu menu(m_view);
    menu.addAction(tr("Open working directory"), this,
                   [this, workDir] { openFile(workDir, tr("working directory")); });
    menu.addAction(tr("Show output"), this, [this, output] { openFile(output, tr("output")); });
    menu.addAction(tr("Show error output"), this,
                   [this, errors] { openFile(errors, tr("error output")); });
    menu.addSeparator();
    menu.addAction(tr("Run again"), this, [this, id] {
            Q_EMIT runAgainRequested(id);
        })->setEnabled(!active);
    menu.addAction(tr("Stop"), this, [this, id] { Q_EMIT stopRequested(id); })->setEnabled(active);
    if (job->waits()) {
        menu.addAction(tr("Move to the front of the queue"), this,
                       [this, id] { m_jobs->moveInQueue(id, true); });
        menu.addAction(tr("Move to the back of the queue"), this,
                       [this, id] { m_jobs->moveInQueue(id, false); });
    }
    const QString where = job->where;
    if (where != Jobs::thisComputer()) {
        menu.addAction(tr("Copy results back from %1").arg(where), this, [this, id] {
                m_jobs->fetch(id);
            })->setEnabled(!active && m_jobs->backend(where));
    }
    // A cluster's copy of the job goes with its record; the local files stay.
    const QString remove = where == Jobs::thisComputer()
            ? tr("Remove from list")
            : tr("Remove from list and its folder from %1").arg(where);
    menu.addAction(remove, this, [this, id] { m_jobs->remove(id); })->setEnabled(!active);
    menu.exec(m_view->viewport()->mapToGlobal(position));
}

void JobsTab::openFile(const QString &path, const QString &what)
{
    if (!QFileInfo::exists(path))
        Q_EMIT failed(tr("The %1 %2 is not there any more.").arg(what, path));
    else if (!QDesktopServices::openUrl(QUrl::fromLocalFile(path)))
        Q_EMIT failed(tr("Unable to open the %1 %2").arg(what, path));
}
