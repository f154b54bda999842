// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef JOBSTAB_H
#define JOBSTAB_H

#include <QObject>

class JobManager;
class JobsModel;
class QPoint;
class QSortFilterProxyModel;
class QTableView;

// The Jobs tab: every job, newest first, with what can be done with each. Loading a job's deck
// is the window's; the rest is done here.
class JobsTab : public QObject
{
    Q_OBJECT

public:
    JobsTab(QTableView *view, JobManager *jobs, QObject *parent = nullptr);

    // Fills the rows; the first time it is shown is enough.
    void fill();
    // The job of the row in the view, or 0.
    qint64 jobAt(int row) const;

Q_SIGNALS:
    void loadRequested(qint64 id);
    void runAgainRequested(qint64 id);
    void stopRequested(qint64 id);
    void failed(const QString &message);

private:
    void showMenu(const QPoint &position);
    void openFile(const QString &path, const QString &what);

    QTableView *m_view;
    JobManager *m_jobs;
    JobsModel *m_model = nullptr;
    QSortFilterProxyModel *m_sorted = nullptr;
};

#endif
