// SPDX-License-Identifier: GPL-3.0-or-later
#include "job/jobledger.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace {

// SQLite's result codes, as the driver reports them.
constexpr int SqliteBusy = 5;
constexpr int SqliteLocked = 6;
constexpr int SqliteCorrupt = 11;
constexpr int SqliteNotADatabase = 26;

const QString Columns = QStringLiteral(
        "deck, work_dir, title, program, cores, portal_user, portal_token, portal_job, location, "
        "state, exit_code, signal, reason, started, ended, output_file, error_file, "
        "process_group, boot_id, remote_id, plan, remote_folder, cpu_seconds, peak_kib, "
        "queue_order");

// Times are kept as milliseconds since the epoch: read back quickly, whatever the time zone.
QVariant timeValue(const QDateTime &time)
{
    return time.isValid() ? QVariant(time.toMSecsSinceEpoch()) : QVariant();
}

QDateTime timeOf(const QVariant &value)
{
    // In UTC: turning ten thousand times into local ones at start-up takes long.
    return value.isNull() ? QDateTime()
                          : QDateTime::fromMSecsSinceEpoch(value.toLongLong(), Qt::UTC);
}

}

JobLedger::JobLedger(const QString &path, int busyTimeoutMs)
    : m_path(path)
    , m_connection(QStringLiteral("jobledger-%1").arg(quintptr(this)))
    , m_busy_timeout_ms(busyTimeoutMs)
{
    m_open = open();
    if (!m_open)
        QSqlDatabase::removeDatabase(m_connection);
}

JobLedger::~JobLedger()
{
    if (QSqlDatabase::contains(m_connection)) {
        QSqlDatabase::database(m_connection, false).close();
        QSqlDatabase::removeDatabase(m_connection);
    }
}

bool JobLedger::open()
{
    const QFileInfo info(m_path);
    if (info.isDir()) {
        m_problem
                = QStringLiteral("The job list %1 is a folder: jobs are not recorded.").arg(m_path);
        return false;
    }
    if (!QDir().mkpath(info.absolutePath())) {
        m_problem = QStringLiteral("The folder of the job list %1 cannot be made: jobs are not "
                                   "recorded.")
                            .arg(m_path);
        return false;
    }
    const bool isNew = !info.exists();
    switch (connect()) {
    case Trouble::Damaged:
        return replaceDamaged();
    case Trouble::Busy:
    case Trouble::Other:
        return false;
    case Trouble::None:
        break;
    }
    if (isNew)
        QFile::setPermissions(m_path, QFile::ReadOwner | QFile::WriteOwner);
    int found = 0;
    {
        QSqlQuery version(QSqlDatabase::database(m_connection, false));
        if (!version.exec(QStringLiteral("PRAGMA user_version")) || !version.next()) {
            fail(QStringLiteral("cannot be read"), version.lastError());
            return false;
        }
        found = version.value(0).toInt();
    }
    if (found > SchemaVersion) {
        m_problem = QStringLiteral("The job list %1 was written by a newer launcher: jobs are not "
                                   "recorded.")
                            .arg(m_path);
        return false;
    }
    // Several launchers may use the file at once: readers then do not wait for a writer.
    // Asked first: changing it takes a lock that another launcher's write would hold up.
    QSqlQuery mode(QSqlDatabase::database(m_connection, false));
    const bool wal = mode.exec(QStringLiteral("PRAGMA journal_mode")) && mode.next()
            && mode.value(0).toString() == QLatin1String("wal");
    mode.finish();
    if ((!wal && !exec(QStringLiteral("PRAGMA journal_mode=WAL")))
        || !exec(QStringLiteral("PRAGMA synchronous=NORMAL")))
        return false;
    return migrate(found);
}

JobLedger::Trouble JobLedger::connect()
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
    db.setDatabaseName(m_path);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(m_busy_timeout_ms));
    if (!db.open()) {
        fail(QStringLiteral("cannot be opened"), db.lastError());
        return Trouble::Other;
    }
    // Read before anything is written: a file the launcher cannot use stays as it is.
    QSqlQuery check(db);
    if (check.exec(QStringLiteral("PRAGMA quick_check")) && check.next())
        return check.value(0).toString() == QLatin1String("ok") ? Trouble::None : Trouble::Damaged;
    const Trouble trouble = troubleOf(check.lastError());
    if (trouble != Trouble::Damaged)
        fail(QStringLiteral("cannot be read"), check.lastError());
    return trouble;
}

bool JobLedger::replaceDamaged()
{
    QSqlDatabase::removeDatabase(m_connection);
    const QString broken = m_path + QStringLiteral(".broken-")
            + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    if (!QFile::rename(m_path, broken)) {
        m_problem = QStringLiteral("The job list %1 is damaged and cannot be moved aside: jobs "
                                   "are not recorded.")
                            .arg(m_path);
        return false;
    }
    // The journal belongs to the damaged file and would be applied to the new one.
    QFile::rename(m_path + QStringLiteral("-wal"), broken + QStringLiteral("-wal"));
    QFile::remove(m_path + QStringLiteral("-shm"));
    const QString moved = QStringLiteral("The job list was damaged: it is kept as %1 and a new "
                                         "one begun.")
                                  .arg(broken);
    if (!open())
        return false;
    m_problem = moved;
    return true;
}

bool JobLedger::migrate(int from)
{
    // Each version's changes, applied in turn; a launcher reads every older layout.
    static const QList<QStringList> steps = {
        { QStringLiteral("CREATE TABLE jobs (id INTEGER PRIMARY KEY AUTOINCREMENT, deck TEXT, "
                         "work_dir TEXT, title TEXT, program TEXT, cores INTEGER, "
                         "portal_user INTEGER, portal_token TEXT, portal_job INTEGER, "
                         "location TEXT, state TEXT, exit_code INTEGER, signal INTEGER, "
                         "reason TEXT, started INTEGER, ended INTEGER, output_file TEXT, "
                         "error_file TEXT, process_group INTEGER, boot_id TEXT)") },
        { QStringLiteral("ALTER TABLE jobs ADD COLUMN remote_id TEXT") },
        { QStringLiteral("ALTER TABLE jobs ADD COLUMN plan TEXT"),
          QStringLiteral("ALTER TABLE jobs ADD COLUMN remote_folder TEXT"),
          QStringLiteral("ALTER TABLE jobs ADD COLUMN cpu_seconds REAL"),
          QStringLiteral("ALTER TABLE jobs ADD COLUMN peak_kib INTEGER"),
          // Made once: a ledger begun anew, or another computer's, has another.
          QStringLiteral("CREATE TABLE about (key TEXT PRIMARY KEY, value TEXT)"),
          QStringLiteral("INSERT INTO about VALUES ('tag', lower(hex(randomblob(4))))") },
        { QStringLiteral("ALTER TABLE jobs ADD COLUMN queue_order INTEGER DEFAULT 0") },
    };
    if (from == SchemaVersion)
        return true;
    if (!exec(QStringLiteral("BEGIN IMMEDIATE")))
        return false;
    // Another launcher may have migrated the file meanwhile.
    QSqlQuery version(QSqlDatabase::database(m_connection, false));
    if (!version.exec(QStringLiteral("PRAGMA user_version")) || !version.next()) {
        fail(QStringLiteral("cannot be read"), version.lastError());
        return false;
    }
    for (int step = version.value(0).toInt(); step < SchemaVersion; ++step) {
        for (const QString &statement : steps.at(step)) {
            if (!exec(statement)) {
                exec(QStringLiteral("ROLLBACK"));
                return false;
            }
        }
    }
    return exec(QStringLiteral("PRAGMA user_version=%1").arg(SchemaVersion))
            && exec(QStringLiteral("COMMIT"));
}

JobLedger::Trouble JobLedger::troubleOf(const QSqlError &error) const
{
    switch (error.nativeErrorCode().toInt() & 0xff) {
    case SqliteBusy:
    case SqliteLocked:
        return Trouble::Busy;
    case SqliteCorrupt:
    case SqliteNotADatabase:
        return Trouble::Damaged;
    default:
        return Trouble::Other;
    }
}

void JobLedger::fail(const QString &what, const QSqlError &error)
{
    m_open = false;
    if (troubleOf(error) == Trouble::Busy)
        m_problem = QStringLiteral("The job list %1 is locked by another program: jobs are not "
                                   "recorded.")
                            .arg(m_path);
    else
        m_problem = QStringLiteral("The job list %1 %2: %3. Jobs are not recorded.")
                            .arg(m_path, what, error.text());
}

bool JobLedger::exec(const QString &statement)
{
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    if (query.exec(statement))
        return true;
    fail(QStringLiteral("cannot be written"), query.lastError());
    return false;
}

QList<Job> JobLedger::load()
{
    return select(0);
}

QString JobLedger::tag()
{
    if (!m_open)
        return QString();
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    if (query.exec(QStringLiteral("SELECT value FROM about WHERE key='tag'")) && query.next())
        return query.value(0).toString();
    fail(QStringLiteral("cannot be read"), query.lastError());
    return QString();
}

Job JobLedger::find(qint64 id)
{
    return select(id).value(0);
}

QList<Job> JobLedger::select(qint64 id)
{
    QList<Job> jobs;
    if (!m_open)
        return jobs;
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    query.setForwardOnly(true);
    const QString where = id > 0 ? QStringLiteral("WHERE id=%1").arg(id) : QString();
    if (!query.exec(QStringLiteral("SELECT id, %1 FROM jobs %2 ORDER BY id DESC")
                            .arg(Columns, where))) {
        fail(QStringLiteral("cannot be read"), query.lastError());
        return jobs;
    }
    while (query.next()) {
        Job job;
        int column = 0;
        const auto next = [&] { return query.value(column++); };
        job.id = next().toLongLong();
        job.deck = next().toString();
        job.workDir = next().toString();
        job.title = next().toString();
        job.program = next().toString();
        job.cores = next().toInt();
        job.portal.userId = next().toInt();
        job.portal.userToken = next().toString();
        job.portal.jobId = next().toInt();
        job.where = next().toString();
        bool known = false;
        job.state = Jobs::stateFromName(next().toString(), &known);
        job.exitCode = next().toInt();
        job.signal = next().toInt();
        job.reason = next().toString();
        if (!known)
            job.reason = QStringLiteral("Its state in the job list cannot be read.");
        job.started = timeOf(next());
        job.ended = timeOf(next());
        job.outputFile = next().toString();
        job.errorFile = next().toString();
        job.processGroup = next().toLongLong();
        job.bootId = next().toString();
        job.remoteId = next().toString();
        job.plan = JobPlan::fromJson(next().toByteArray());
        job.remoteFolder = next().toString();
        const QVariant cpu = next();
        job.usage.cpuSeconds = cpu.isNull() ? -1 : cpu.toDouble();
        const QVariant peak = next();
        job.usage.peakKiB = peak.isNull() ? -1 : peak.toLongLong();
        job.queueOrder = next().toLongLong();
        jobs.append(std::move(job));
    }
    return jobs;
}

bool JobLedger::record(Job &job)
{
    if (!m_open)
        return false;
    QStringList marks;
    for (int i = 0; i < Columns.count(QLatin1Char(',')) + 1; ++i)
        marks.append(QStringLiteral("?"));
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    query.prepare(QStringLiteral("INSERT INTO jobs (%1) VALUES (%2)")
                          .arg(Columns, marks.join(QLatin1Char(','))));
    if (!write(query, job))
        return false;
    job.id = query.lastInsertId().toLongLong();
    return true;
}

bool JobLedger::update(const Job &job)
{
    if (!m_open)
        return false;
    QStringList sets = Columns.split(QStringLiteral(", "));
    for (QString &set : sets)
        set += QStringLiteral("=?");
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    query.prepare(QStringLiteral("UPDATE jobs SET %1 WHERE id=?").arg(sets.join(QLatin1Char(','))));
    return write(query, job, true);
}

bool JobLedger::remove(qint64 id)
{
    if (!m_open)
        return false;
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    query.prepare(QStringLiteral("DELETE FROM jobs WHERE id=?"));
    query.addBindValue(id);
    if (query.exec())
        return true;
    fail(QStringLiteral("cannot be written"), query.lastError());
    return false;
}

bool JobLedger::write(QSqlQuery &query, const Job &job, bool withId)
{
    for (const QVariant &value :
         { QVariant(job.deck),
           QVariant(job.workDir),
           QVariant(job.title),
           QVariant(job.program),
           QVariant(job.cores),
           QVariant(job.portal.userId),
           QVariant(job.portal.userToken),
           QVariant(job.portal.jobId),
           QVariant(job.where),
           QVariant(Jobs::stateName(job.state)),
           QVariant(job.exitCode),
           QVariant(job.signal),
           QVariant(job.reason),
           timeValue(job.started),
           timeValue(job.ended),
           QVariant(job.outputFile),
           QVariant(job.errorFile),
           QVariant(job.processGroup),
           QVariant(job.bootId),
           QVariant(job.remoteId),
           QVariant(job.plan.isEmpty() ? QByteArray() : job.plan.toJson()),
           QVariant(job.remoteFolder),
           job.usage.cpuSeconds < 0 ? QVariant() : QVariant(job.usage.cpuSeconds),
           job.usage.peakKiB < 0 ? QVariant() : QVariant(job.usage.peakKiB),
           QVariant(job.queueOrder) })
        query.addBindValue(value);
    if (withId)
        query.addBindValue(job.id);
    if (query.exec())
        return true;
    fail(QStringLiteral("cannot be written"), query.lastError());
    return false;
}
