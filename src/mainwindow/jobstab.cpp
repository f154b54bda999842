// SPDX-License-Identifier: GPL-3.0-or-later
#include "mainwindow/jobstab.h"

#include "launcher/launcher.h"

#include "job/jobmanager.h"
#include "mainwindow/jobsmodel.h"

#include <QDateTime>
#include <QDesktopServices>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QSortFilterProxyModel>
#include <QTabWidget>
#include <QTableView>
#include <QUrl>

JobsTab::JobsTab(QTableView *view, QLineEdit *filter, QLabel *counts, Launcher *launcher,
                 QObject *parent)
    : QObject(parent)
    , m_view(view)
    , m_filter(filter)
    , m_launcher(launcher)
    , m_jobs(launcher->jobs())
{
    JobManager *jobs = m_jobs;
    const auto count = [counts, jobs] { counts->setText(countsText(jobs->jobs())); };
    connect(jobs, &JobManager::jobAdded, counts, count);
    connect(jobs, &JobManager::jobStateChanged, counts, count);
    connect(jobs, &JobManager::jobRemoved, counts, count);
    count();
    m_view->verticalHeader()->hide();
    m_view->verticalHeader()->setDefaultSectionSize(m_view->fontMetrics().height() + 6);
    m_view->horizontalHeader()->setStretchLastSection(true);
    m_view->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    // Enter, and a double click where the desktop activates items so.
    connect(m_view, &QTableView::activated, this,
            [this](const QModelIndex &index) { m_launcher->loadJob(jobAt(index.row())); });
    connect(m_view, &QTableView::customContextMenuRequested, this, &JobsTab::showMenu);
    // Filled once its page of the window's tabs is first chosen.
    for (QWidget *page = m_view; page; page = page->parentWidget()) {
        if (auto *tabs = qobject_cast<QTabWidget *>(page)) {
            connect(tabs, &QTabWidget::currentChanged, this, [this, tabs] {
                if (tabs->currentWidget()->isAncestorOf(m_view))
                    fill();
            });
        }
    }
}

void JobsTab::fill()
{
    if (m_model)
        return;
    m_model = new JobsModel(m_jobs, this);
    m_sorted = new QSortFilterProxyModel(this);
    m_sorted->setSortRole(JobsModel::SortRole);
    m_sorted->setSourceModel(m_model);
    m_sorted->setFilterRole(JobsModel::FilterRole);
    m_sorted->setFilterCaseSensitivity(Qt::CaseInsensitive);
    connect(m_filter, &QLineEdit::textChanged, m_sorted,
            &QSortFilterProxyModel::setFilterFixedString);
    m_sorted->setFilterFixedString(m_filter->text());
    m_view->setModel(m_sorted);
    m_view->sortByColumn(JobsModel::Started, Qt::DescendingOrder);
    // Set once: sizing columns to their contents would measure every row.
    const QFontMetrics metrics = m_view->fontMetrics();
    const auto width
            = [&metrics](const QString &sample) { return metrics.horizontalAdvance(sample) + 16; };
    const QString started = QLocale().toString(QDateTime::currentDateTime(), QLocale::ShortFormat);
    m_view->setColumnWidth(JobsModel::State, width(QStringLiteral("Submitted")));
    m_view->setColumnWidth(JobsModel::Title, width(QString(16, QLatin1Char('x'))));
    m_view->setColumnWidth(JobsModel::Deck, width(QStringLiteral("mgo-cell-opt.d12")));
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

QString JobsTab::countsText(const QList<Job> &jobs)
{
    // Places in the order their first job not ended was started; this computer first.
    QStringList places{ Jobs::thisComputer() };
    QHash<QString, QPair<int, int>> counts;
    for (const Job &job : jobs) {
        if (!Jobs::isActive(job.state))
            continue;
        if (!places.contains(job.where))
            places << job.where;
        QPair<int, int> &count = counts[job.where];
        ++(job.state == Jobs::State::Queued ? count.second : count.first);
    }
    QStringList said;
    for (const QString &place : std::as_const(places)) {
        const auto count = counts.constFind(place);
        if (count == counts.cend())
            continue;
        QStringList parts;
        if (count->first > 0)
            parts << tr("%1 running").arg(count->first);
        if (count->second > 0)
            parts << tr("%1 queued").arg(count->second);
        said << tr("%1 on %2")
                        .arg(parts.join(QStringLiteral(", ")),
                             place == Jobs::thisComputer() ? tr("this computer") : place);
    }
    return said.join(QStringLiteral("; "));
}

QList<const Job *> JobsTab::selectedJobs(const QPoint &position)
{
    const QModelIndex under = m_view->indexAt(position);
    if (!under.isValid())
        return {};
    // A click outside the selection acts on that row alone, as file managers do.
    if (!m_view->selectionModel()->isRowSelected(under.row(), QModelIndex()))
        m_view->selectRow(under.row());
    QList<const Job *> jobs;
    for (const QModelIndex &row : m_view->selectionModel()->selectedRows()) {
        if (const Job *job = m_jobs->find(jobAt(row.row())))
            jobs << job;
    }
    return jobs;
}

void JobsTab::showMenu(const QPoint &position)
{
    const QList<const Job *> selected = selectedJobs(position);
    if (selected.isEmpty())
        return;
    QList<qint64> ended, active, waiting;
    for (const Job *job : selected) {
        (Jobs::isActive(job->state) ? active : ended) << job->id;
        if (job->waits())
            waiting << job->id;
    }
    QMenu menu(m_view);
    if (selected.size() == 1) {
        const Job *job = selected.first();
        const QString workDir = job->workDir;
        const QString output = job->outputFile;
        const QString errors = job->errorFile;
        menu.addAction(tr("Open working directory"), this,
                       [this, workDir] { openFile(workDir, tr("working directory")); });
        menu.addAction(tr("Show output"), this, [this, output] { openFile(output, tr("output")); });
        menu.addAction(tr("Show error output"), this,
                       [this, errors] { openFile(errors, tr("error output")); });
        menu.addSeparator();
    }
    menu.addAction(tr("Run again"), this, [this, ended] {
            m_launcher->runAgain(ended);
        })->setEnabled(!ended.isEmpty());
    menu.addAction(tr("Stop"), this, [this, active] {
            m_launcher->stopJobs(active);
        })->setEnabled(!active.isEmpty());
    if (!waiting.isEmpty()) {
        menu.addAction(tr("Move to the front of the queue"), this, [this, waiting] {
            for (auto id = waiting.crbegin(); id != waiting.crend(); ++id)
                m_jobs->moveInQueue(*id, true);
        });
        menu.addAction(tr("Move to the back of the queue"), this, [this, waiting] {
            for (const qint64 id : waiting)
                m_jobs->moveInQueue(id, false);
        });
    }
    const QString where = selected.first()->where;
    if (selected.size() == 1 && where != Jobs::thisComputer()) {
        const qint64 id = selected.first()->id;
        menu.addAction(tr("Copy results back from %1").arg(where), this, [this, id] {
                m_jobs->fetch(id);
            })->setEnabled(!ended.isEmpty() && m_jobs->backend(where));
    }
    // A cluster's copy of a job goes with its record; the local files stay.
    const bool elsewhere = std::any_of(selected.cbegin(), selected.cend(), [](const Job *job) {
        return job->where != Jobs::thisComputer();
    });
    const QString remove = !elsewhere ? tr("Remove from list")
            : selected.size() == 1    ? tr("Remove from list and its folder from %1").arg(where)
                                      : tr("Remove from list and their folders from the clusters");
    menu.addAction(remove, this, [this, ended] {
            for (const qint64 id : ended)
                m_jobs->remove(id);
        })->setEnabled(!ended.isEmpty());
    menu.exec(m_view->viewport()->mapToGlobal(position));
}

void JobsTab::openFile(const QString &path, const QString &what)
{
    if (!QFileInfo::exists(path))
        Q_EMIT failed(tr("The %1 %2 is not there any more.").arg(what, path));
    else if (!QDesktopServices::openUrl(QUrl::fromLocalFile(path)))
        Q_EMIT failed(tr("Unable to open the %1 %2").arg(what, path));
}
