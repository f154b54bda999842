// SPDX-License-Identifier: GPL-3.0-or-later
#include "cluster/sshclient.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTimer>

namespace {

// Copies may take much longer than commands; a stalled one still ends.
constexpr int CopyTimeoutFactor = 10;
// How long an idle shared connection outlives its last command, in seconds.
constexpr int MasterPersistSeconds = 600;
// A copy goes on from the bytes here once this many of their last are found there too.
constexpr qint64 ResumeOverlap = 4096;

// Appends what came after the overlap to the file, if the overlap is the file's end. False when
// it is not: the file there is another than the one begun here.
bool joinTail(const QString &file, const QString &tailFile, qint64 overlap, QString *fault)
{
    QFile tail(tailFile);
    if (!tail.open(QIODevice::ReadOnly))
        return false;
    QFile target(file);
    if (!target.open(QIODevice::ReadWrite)) {
        *fault = QStringLiteral("%1 cannot be written").arg(file);
        return false;
    }
    if (!target.seek(target.size() - overlap) || target.read(overlap) != tail.read(overlap))
        return false;
    while (!tail.atEnd()) {
        const QByteArray piece = tail.read(1 << 16);
        if (target.write(piece) != piece.size()) {
            *fault = QStringLiteral("%1 cannot be written").arg(file);
            return false;
        }
    }
    return true;
}

}

SshClient::SshClient(const SshConfig &config, const QString &host, const QStringList &options,
                     QObject *parent)
    : QObject(parent)
    , m_config(config)
    , m_host(host)
    , m_options(options)
{ }

SshClient::~SshClient()
{
    // Commands still under way have no one to answer to.
    const auto running = findChildren<QProcess *>();
    for (QProcess *process : running) {
        process->disconnect(this);
        process->kill();
        process->waitForFinished(1000);
    }
    if (m_master != Master::Up)
        return;
    // The shared connection is of no use to anyone once its launcher is gone.
    QProcess exit;
    exit.setProgram(m_config.ssh);
    exit.setArguments(commonOptions() + QStringList{ QStringLiteral("-O"), QStringLiteral("exit") }
                      + m_options + QStringList{ QStringLiteral("--"), m_host });
    exit.setStandardOutputFile(QProcess::nullDevice());
    exit.setStandardErrorFile(QProcess::nullDevice());
    exit.startDetached();
}

QString SshClient::faultText(const QString &host, const QString &error)
{
    if (error.contains(QLatin1String("REMOTE HOST IDENTIFICATION HAS CHANGED")))
        return QStringLiteral("the host key of %1 has changed; if the change is expected, remove "
                              "the old key with \"ssh-keygen -R\"")
                .arg(host);
    if (error.contains(QLatin1String("Host key verification failed")))
        return QStringLiteral("the host key of %1 is unknown; connect once with ssh in a terminal "
                              "to check and accept it")
                .arg(host);
    if (error.contains(QLatin1String("Permission denied")))
        return QStringLiteral("%1 refused the login").arg(host);
    // The last line that ssh wrote is its own account of the fault.
    const QStringList lines = error.trimmed().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    return lines.isEmpty() ? QStringLiteral("ssh could not reach %1").arg(host)
                           : lines.last().trimmed();
}

QStringList SshClient::commonOptions() const
{
    return { QStringLiteral("-o"), QStringLiteral("ControlPath=%1/%C").arg(m_config.controlDir),
             QStringLiteral("-o"), QStringLiteral("ServerAliveInterval=15") };
}

void SshClient::withMaster(const std::function<void(const QString &)> &job)
{
    if (m_master == Master::Up) {
        job(QString());
        return;
    }
    m_waiting.append(job);
    if (m_master == Master::Checking)
        return;
    m_master = Master::Checking;
    // A connection left by an earlier launcher is used as it is: starting another master over
    // its socket would leave a plain connection behind.
    const QStringList check = commonOptions()
            + QStringList{ QStringLiteral("-O"), QStringLiteral("check") } + m_options
            + QStringList{ QStringLiteral("--"), m_host };
    launch(check, m_config.timeoutMs, [this](const SshResult &result) {
        if (result.fault.isEmpty() && result.exitCode == 0)
            masterReady(QString());
        else
            startMaster(false);
    })->start();
}

void SshClient::startMaster(bool mayAsk)
{
    QStringList arguments = commonOptions();
    arguments += { QStringLiteral("-o"),
                   QStringLiteral("ControlMaster=yes"),
                   QStringLiteral("-o"),
                   QStringLiteral("ControlPersist=%1").arg(MasterPersistSeconds),
                   QStringLiteral("-o"),
                   mayAsk ? QStringLiteral("BatchMode=no") : QStringLiteral("BatchMode=yes"),
                   QStringLiteral("-N"),
                   QStringLiteral("-f") };
    arguments += m_options;
    arguments += { QStringLiteral("--"), m_host };
    // Answering a passphrase or a second factor may take the user a while.
    const int timeout = mayAsk ? m_config.timeoutMs * CopyTimeoutFactor : m_config.timeoutMs;
    QProcess *process = launch(arguments, timeout, [this, mayAsk](const SshResult &result) {
        if (result.fault.isEmpty()) {
            masterReady(QString());
            return;
        }
        // A key with a passphrase, or a login with a second factor, asks once per session.
        if (!mayAsk && !m_config.askpass.isEmpty()
            && result.error.contains(QLatin1String("Permission denied"))) {
            startMaster(true);
            return;
        }
        masterReady(result.fault);
    });
    if (mayAsk) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("SSH_ASKPASS"), m_config.askpass);
        environment.insert(QStringLiteral("SSH_ASKPASS_REQUIRE"), QStringLiteral("force"));
        process->setProcessEnvironment(environment);
    }
    // The master goes on in the background with ssh's output channels: they are files, so
    // that its end is seen when the foreground ssh exits.
    process->setStandardOutputFile(QProcess::nullDevice());
    process->start();
}

void SshClient::masterReady(const QString &fault)
{
    m_master = fault.isEmpty() ? Master::Up : Master::Unknown;
    const auto waiting = std::exchange(m_waiting, {});
    for (const auto &job : waiting)
        job(fault);
}

QProcess *SshClient::launch(const QStringList &arguments, int timeoutMs, const Done &done)
{
    auto *process = new QProcess(this);
    process->setProgram(m_config.ssh);
    process->setArguments(arguments);
    auto *timer = new QTimer(process);
    timer->setSingleShot(true);
    auto finished = std::make_shared<bool>(false);
    const auto finish = [this, process, done, finished](SshResult result) {
        if (*finished)
            return;
        *finished = true;
        if (process->isOpen()) {
            result.output = process->readAllStandardOutput();
            result.error = QString::fromLocal8Bit(process->readAllStandardError());
        }
        // Status 255 is ssh's own: the remote command's status is never taken for it.
        if (result.fault.isEmpty() && result.exitCode == 255)
            result.fault = faultText(m_host, result.error);
        if (!result.fault.isEmpty())
            m_master = Master::Unknown;
        process->deleteLater();
        done(result);
    };
    connect(process, &QProcess::finished, this,
            [finish](int exitCode, QProcess::ExitStatus status) {
                SshResult result;
                result.exitCode = exitCode;
                if (status != QProcess::NormalExit)
                    result.fault = QStringLiteral("ssh ended abnormally");
                finish(result);
            });
    connect(process, &QProcess::errorOccurred, this, [this, finish](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        SshResult result;
        result.fault = QStringLiteral("%1 cannot be started").arg(m_config.ssh);
        finish(result);
    });
    connect(timer, &QTimer::timeout, this, [this, process, timeoutMs, finish] {
        SshResult result;
        result.fault = QStringLiteral("%1 did not answer within %2 s")
                               .arg(m_host)
                               .arg(timeoutMs / 1000.0);
        finish(result);
        process->kill();
        process->waitForFinished(1000);
    });
    timer->start(timeoutMs);
    ++m_commands;
    return process;
}

void SshClient::command(const QString &command, int timeoutMs,
                        const std::function<void(QProcess *)> &prepare, const Done &done)
{
    withMaster([this, command, timeoutMs, prepare, done](const QString &fault) {
        if (!fault.isEmpty()) {
            SshResult result;
            result.fault = fault;
            done(result);
            return;
        }
        QStringList arguments = commonOptions();
        arguments += { QStringLiteral("-o"), QStringLiteral("ControlMaster=auto"),
                       QStringLiteral("-o"), QStringLiteral("BatchMode=yes") };
        arguments += m_options;
        arguments += { QStringLiteral("--"), m_host, command };
        QProcess *process = launch(arguments, timeoutMs, done);
        prepare(process);
        process->start();
    });
}

void SshClient::run(const QString &command, const QByteArray &input, const Done &done)
{
    this->command(
            command, m_config.timeoutMs,
            [input](QProcess *process) {
                if (input.isEmpty()) {
                    process->setStandardInputFile(QProcess::nullDevice());
                    return;
                }
                connect(process, &QProcess::started, process, [process, input] {
                    process->write(input);
                    process->closeWriteChannel();
                });
            },
            done);
}

void SshClient::upload(const QString &localFile, const QString &remotePath, const Done &done)
{
    command(
            QStringLiteral("cat > %1").arg(remotePath), m_config.timeoutMs * CopyTimeoutFactor,
            [localFile](QProcess *process) { process->setStandardInputFile(localFile); }, done);
}

void SshClient::download(const QString &remotePath, const QString &localFile, const Done &done)
{
    // Bytes here already, of a copy cut before or of the output followed while the job ran, do
    // not cross again. A whole copy is made apart and replaces the local file once it came.
    const QString partial = localFile + QStringLiteral(".part");
    const QString target
            = QFileInfo::exists(partial) || !QFileInfo(localFile).isFile() ? partial : localFile;
    const qint64 have = QFileInfo(target).size();
    const qint64 overlap = qMin(have, ResumeOverlap);
    const QString tail = partial + QStringLiteral(".tail");
    command(
            QStringLiteral("tail -c +%1 -- %2").arg(have - overlap + 1).arg(remotePath),
            m_config.timeoutMs * CopyTimeoutFactor,
            [tail](QProcess *process) { process->setStandardOutputFile(tail); },
            [this, remotePath, localFile, partial, target, overlap, tail, done](SshResult result) {
                // What came of a cut copy is kept, for the next try to go on from.
                QString fault;
                const bool joined = joinTail(target, tail, overlap, &fault);
                QFile::remove(tail);
                if (!fault.isEmpty() && result.fault.isEmpty())
                    result.fault = fault;
                if (result.ok() && !joined) {
                    // The file there is not the one begun here: it comes whole, once.
                    QFile whole(partial);
                    if (whole.open(QIODevice::WriteOnly | QIODevice::Truncate))
                        return download(remotePath, localFile, done);
                    result.fault = QStringLiteral("%1 cannot be written").arg(partial);
                }
                if (!result.ok() && QFileInfo(partial).size() == 0)
                    QFile::remove(partial);
                if (result.ok() && target == partial) {
                    QFile::remove(localFile);
                    if (!QFile::rename(partial, localFile))
                        result.fault = QStringLiteral("%1 cannot be written").arg(localFile);
                }
                done(result);
            });
}
