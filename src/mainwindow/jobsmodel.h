// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef JOBSMODEL_H
#define JOBSMODEL_H

#include <QAbstractTableModel>

class JobManager;
class QTimer;

// The manager's jobs as table rows, oldest first; running jobs' durations go on counting.
class JobsModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column {
        State,
        Title,
        Deck,
        Program,
        Cores,
        Where,
        Started,
        Duration,
        Outcome,
        Usage,
        ColumnCount
    };
    // The job's ledger id, of any column.
    static constexpr int IdRole = Qt::UserRole;
    // What the column sorts by: times and numbers as such.
    static constexpr int SortRole = Qt::UserRole + 1;
    // What the filter field looks through: title, deck, program, place and state.
    static constexpr int FilterRole = Qt::UserRole + 2;

    explicit JobsModel(JobManager *jobs, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    void changed(qint64 id);
    void tick();

    JobManager *m_jobs;
    QTimer *m_clock;
};

#endif
