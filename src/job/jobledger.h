// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef JOBLEDGER_H
#define JOBLEDGER_H

#include "job/job.h"

#include <QList>
#include <QString>

class QSqlError;
class QSqlQuery;

// The record of every job, kept in an SQLite file that several launchers may share. A ledger
// that cannot be used says why once and then records nothing: no job depends on it.
class JobLedger
{
public:
    // The layout of the file this launcher writes, kept in PRAGMA user_version.
    static constexpr int SchemaVersion = 4;

    // Opens the file, making it where it is missing. A damaged file is moved aside to
    // "<path>.broken-<date>" and a new one begun.
    explicit JobLedger(const QString &path, int busyTimeoutMs = 5000);
    ~JobLedger();
    JobLedger(const JobLedger &) = delete;
    JobLedger &operator=(const JobLedger &) = delete;

    bool isOpen() const { return m_open; }
    // Why the ledger is not used, or what happened to it on opening; empty when all went well.
    QString problem() const { return m_problem; }

    // Newest first.
    QList<Job> load();
    // Made once for the file: names its jobs apart from other ledgers' where they meet.
    QString tag();
    // The job as the file has it now, maybe from another launcher; a job of id 0 if none.
    Job find(qint64 id);
    // Gives the job its id.
    bool record(Job &job);
    bool update(const Job &job);
    bool remove(qint64 id);

private:
    enum class Trouble { None, Busy, Damaged, Other };

    bool open();
    // The one job of the id, or all of them where it is 0.
    QList<Job> select(qint64 id);
    // Opens the connection and checks the file.
    Trouble connect();
    bool replaceDamaged();
    bool migrate(int from);
    Trouble troubleOf(const QSqlError &error) const;
    // Stops using the file and says why.
    void fail(const QString &what, const QSqlError &error);
    bool exec(const QString &statement);
    bool write(QSqlQuery &query, const Job &job, bool withId = false);

    QString m_path;
    QString m_connection;
    int m_busy_timeout_ms;
    bool m_open = false;
    QString m_problem;
};

#endif
