// SPDX-License-Identifier: GPL-3.0-or-later
#include "mainwindow/jobsmodel.h"

#include "job/jobmanager.h"

#include <QFileInfo>
#include <QLocale>
#include <QTimer>

namespace {

// Unknown for a job that was lost, and for one that never started.
qint64 durationOf(const Job &job)
{
    if (!job.started.isValid())
        return -1;
    if (Jobs::isActive(job.state))
        return job.started.secsTo(QDateTime::currentDateTime());
    return job.ended.isValid() ? job.started.secsTo(job.ended) : -1;
}

QString outcomeOf(const Job &job)
{
    if (!job.reason.isEmpty())
        return job.reason;
    if (Jobs::isActive(job.state))
        return QString();
    // The script's own exit status says nothing of a job that was stopped.
    if (job.state == Jobs::State::Stopped)
        return JobsModel::tr("stopped");
    if (job.state == Jobs::State::Lost)
        return JobsModel::tr("how it ended is unknown");
    if (job.signal > 0)
        return QStringLiteral("killed by signal %1").arg(job.signal);
    if (job.exitCode >= 0)
        return QStringLiteral("exit code %1").arg(job.exitCode);
    return QString();
}

QString placeOf(const Job &job)
{
    return job.where == Jobs::thisComputer() ? JobsModel::tr("This computer") : job.where;
}

}

JobsModel::JobsModel(JobManager *jobs, QObject *parent)
    : QAbstractTableModel(parent)
    , m_jobs(jobs)
    , m_clock(new QTimer(this))
{
    connect(jobs, &JobManager::jobAdded, this, [this] {
        const int row = int(m_jobs->jobs().size()) - 1;
        beginInsertRows(QModelIndex(), row, row);
        endInsertRows();
        m_clock->start(1000);
    });
    connect(jobs, &JobManager::jobChanged, this, &JobsModel::changed);
    connect(jobs, &JobManager::jobAboutToBeRemoved, this,
            [this](int row) { beginRemoveRows(QModelIndex(), row, row); });
    connect(jobs, &JobManager::jobRemoved, this, [this] { endRemoveRows(); });
    connect(m_clock, &QTimer::timeout, this, &JobsModel::tick);
    m_clock->start(1000);
}

int JobsModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_jobs->jobs().size());
}

int JobsModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant JobsModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return QVariant();
    const Job &job = m_jobs->jobs().at(index.row());
    if (role == IdRole)
        return job.id;
    if (role == FilterRole)
        return QStringList{ job.title, job.deck, job.program, placeOf(job),
                            Jobs::stateName(job.state) }
                .join(QLatin1Char('\n'));
    if (role == Qt::TextAlignmentRole && (index.column() == Cores || index.column() == Duration))
        return int(Qt::AlignRight | Qt::AlignVCenter);
    if (role != Qt::DisplayRole && role != SortRole && role != Qt::ToolTipRole)
        return QVariant();
    const bool sorting = role == SortRole;
    switch (index.column()) {
    case State:
        return Jobs::stateName(job.state);
    case Title:
        return job.title;
    case Deck:
        return role == Qt::ToolTipRole ? job.deck : QFileInfo(job.deck).fileName();
    case Program:
        return job.program;
    case Cores:
        return job.cores;
    case Where:
        return placeOf(job);
    case Started:
        if (sorting)
            return job.started;
        return QLocale().toString(job.started.toLocalTime(), QLocale::ShortFormat);
    case Duration: {
        const qint64 seconds = durationOf(job);
        if (sorting)
            return seconds;
        return seconds < 0 ? QString() : Jobs::durationText(seconds);
    }
    case Outcome:
        return outcomeOf(job);
    case Usage:
        if (sorting)
            return job.usage.cpuSeconds;
        // What an ended job used, where anything of it is known.
        return Jobs::isActive(job.state) || !job.usage.isKnown()
                ? QString()
                : job.usage.text(job.cores, job.started.msecsTo(job.ended) / 1000.0);
    default:
        return QVariant();
    }
}

QVariant JobsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QVariant();
    static const QStringList titles{ tr("State"),   tr("Title"), tr("Deck"),    tr("Program"),
                                     tr("Cores"),   tr("Where"), tr("Started"), tr("Duration"),
                                     tr("Outcome"), tr("Used") };
    return titles.value(section);
}

void JobsModel::changed(qint64 id)
{
    const QList<Job> &jobs = m_jobs->jobs();
    for (int row = int(jobs.size()) - 1; row >= 0; --row) {
        if (jobs.at(row).id == id) {
            Q_EMIT dataChanged(index(row, 0), index(row, ColumnCount - 1));
            return;
        }
    }
}

void JobsModel::tick()
{
    bool active = false;
    const QList<Job> &jobs = m_jobs->jobs();
    for (int row = 0; row < jobs.size(); ++row) {
        if (Jobs::isActive(jobs.at(row).state)) {
            active = true;
            Q_EMIT dataChanged(index(row, Duration), index(row, Duration));
        }
    }
    // Nothing counts while no job runs.
    if (!active)
        m_clock->stop();
}
