// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef SSHCLIENT_H
#define SSHCLIENT_H

#include <QByteArray>
#include <QObject>
#include <QStringList>

#include <functional>

class QProcess;

// How the system's OpenSSH client is started: the programs, where the shared connections'
// sockets live, and how long a command may take.
struct SshConfig
{
    QString ssh = QStringLiteral("ssh");
    // A folder of the user's alone, for the sockets of the shared connections.
    QString controlDir;
    // A program that asks the user for a passphrase or a code, with the prompt as its first
    // argument; none means a login that needs one is refused.
    QString askpass;
    // A command that gives no answer for this long is a connection fault.
    int timeoutMs = 60000;
};

// What became of one remote command or copy.
struct SshResult
{
    // A fault of the connection (ssh's exit status 255, a time-out), in words; empty when the
    // command ran, whatever its own exit status.
    QString fault;
    int exitCode = -1;
    QByteArray output;
    QString error;

    bool ok() const { return fault.isEmpty() && exitCode == 0; }
};

// Runs commands on one host through one shared connection (ControlMaster) of the user's ssh,
// so that the user's configuration, agent, ProxyJump and certificates apply. Every command runs
// in batch mode; only the first login of a session may ask, through the askpass program.
class SshClient : public QObject
{
    Q_OBJECT

public:
    using Done = std::function<void(const SshResult &)>;

    SshClient(const SshConfig &config, const QString &host, const QStringList &options,
              QObject *parent = nullptr);
    ~SshClient() override;

    // The command is one line of the remote user's shell; input goes to its standard input.
    void run(const QString &command, const QByteArray &input, const Done &done);
    // Copies one file each way through the connection; remote paths are shell words, quoted by
    // the caller. A fetched file replaces the local one only once it came whole.
    void upload(const QString &localFile, const QString &remotePath, const Done &done);
    void download(const QString &remotePath, const QString &localFile, const Done &done);
    // How many connections to the host were asked for, and how many commands ran through them.
    int commandCount() const { return m_commands; }

    // Words for a connection fault, from ssh's error output.
    static QString faultText(const QString &host, const QString &error);

private:
    enum class Master { Unknown, Checking, Up };

    QStringList commonOptions() const;
    // Runs the job once the shared connection is up, or hands it the fault that prevented it.
    void withMaster(const std::function<void(const QString &fault)> &job);
    void startMaster(bool mayAsk);
    void masterReady(const QString &fault);
    // Starts ssh with the arguments; standard input and output go to files where named.
    QProcess *launch(const QStringList &arguments, int timeoutMs, const Done &done);
    void command(const QString &command, int timeoutMs,
                 const std::function<void(QProcess *)> &prepare, const Done &done);

    SshConfig m_config;
    QString m_host;
    QStringList m_options;
    Master m_master = Master::Unknown;
    QList<std::function<void(const QString &)>> m_waiting;
    int m_commands = 0;
};

#endif
