// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef NOTIFIER_H
#define NOTIFIER_H

#include "job/job.h"

#include <QDBusConnection>
#include <QHash>
#include <QObject>
#include <QSet>

// Word of ended jobs while the user looks elsewhere: a desktop notification through the
// freedesktop notification service, one for a job, one for a batch once its last job ended.
class Notifier : public QObject
{
    Q_OBJECT

public:
    explicit Notifier(const QDBusConnection &bus, QObject *parent = nullptr);

    // These jobs are told of together.
    void addBatch(const QList<qint64> &ids);
    // The job ended; the user is told unless looking at the window.
    void ended(const Job &job, const JobOutcome &outcome, bool looking);

    // "moltra on mgo.d12" as title, "Finished in 0:08" as text; a batch's counts.
    static QString summaryOf(const Job &job);
    static QString batchSummary(const QList<Jobs::State> &ends);

Q_SIGNALS:
    // The notification of that job (or of its batch's last job) was clicked.
    void activated(qint64 id);
    // No notification service answered: the window asks for attention itself.
    void unavailable();

private Q_SLOTS:
    // The service's signal: a notification's action was taken.
    void actionInvoked(uint notification, const QString &action);

private:
    void notify(const QString &summary, const QString &body, qint64 id);

    QDBusConnection m_bus;
    // The jobs of each batch not yet ended, and the ends of those that have.
    struct Batch
    {
        QSet<qint64> waiting;
        QList<Jobs::State> ends;
    };
    QList<Batch> m_batches;
    // The job each notification shown is about.
    QHash<uint, qint64> m_shown;
};

#endif
