// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef JOBSTAB_H
#define JOBSTAB_H

#include "job/job.h"

#include <QObject>

class JobManager;
class Launcher;
class JobsModel;
class QLabel;
class QLineEdit;
class QPoint;
class QSortFilterProxyModel;
class QTableView;

// The Jobs tab: every job, newest first, found by a filter, with what can be done with the
// selected ones; and the count of jobs not ended, at the top of the window. Loading a job's
// deck, starting and stopping jobs are the launcher's; the rest is done here.
class JobsTab : public QObject
{
    Q_OBJECT

public:
    JobsTab(QTableView *view, QLineEdit *filter, QLabel *counts, Launcher *launcher,
            QObject *parent = nullptr);

    // Fills the rows; the first time its tab is chosen is enough, and does.
    void fill();
    // The job of the row in the view, or 0.
    qint64 jobAt(int row) const;
    // "2 running, 5 queued on this computer; 3 running on cluster1"; empty when all ended.
    static QString countsText(const QList<Job> &jobs);

Q_SIGNALS:
    void failed(const QString &message);

private:
    void showMenu(const QPoint &position);
    void openFile(const QString &path, const QString &what);
    // The selected jobs, the row under the pointer among them.
    QList<const Job *> selectedJobs(const QPoint &position);

    QTableView *m_view;
    QLineEdit *m_filter;
    Launcher *m_launcher;
    JobManager *m_jobs;
    JobsModel *m_model = nullptr;
    QSortFilterProxyModel *m_sorted = nullptr;
};

#endif
