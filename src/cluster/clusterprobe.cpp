// SPDX-License-Identifier: GPL-3.0-or-later
#include "cluster/clusterprobe.h"

ClusterProbe::ClusterProbe(const ClusterProfile &profile, const SshConfig &ssh, QObject *parent)
    : QObject(parent)
    , m_profile(profile)
{
    QString error;
    m_ssh = new SshClient(ssh, profile.host, profile.sshOptionWords(&error), this);
}

void ClusterProbe::start()
{
    const QString problem = m_profile.problem();
    if (!problem.isEmpty()) {
        Q_EMIT finished(false, problem);
        return;
    }
    const QString command = QStringLiteral(
            "for c in sbatch squeue scancel sinfo; do command -v $c >/dev/null || echo \"missing "
            "$c\"; done; echo \"partitions $(sinfo -h -o '%P' 2>&1 | tr '\\n' ' ')\"");
    m_ssh->run(command, {}, [this](const SshResult &result) {
        if (!result.fault.isEmpty()) {
            Q_EMIT finished(false, QStringLiteral("No connection: %1.").arg(result.fault));
            return;
        }
        m_found = QString::fromUtf8(result.output).trimmed();
        // The round trip of a command through the connection, as every later one takes.
        m_clock.start();
        m_ssh->run(QStringLiteral("true"), {},
                   [this](const SshResult &result) { answered(result); });
    });
}

void ClusterProbe::answered(const SshResult &result)
{
    if (!result.fault.isEmpty()) {
        Q_EMIT finished(false, QStringLiteral("No connection: %1.").arg(result.fault));
        return;
    }
    const double seconds = m_clock.elapsed() / 1000.0;
    QStringList missing;
    QString partitions;
    for (const QString &line : m_found.split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("missing ")))
            missing.append(line.mid(8).trimmed());
        else if (line.startsWith(QLatin1String("partitions ")))
            partitions = line.mid(11).trimmed();
    }
    if (!missing.isEmpty()) {
        Q_EMIT finished(false,
                        QStringLiteral("Connected, but %1 is not installed on %2 (or not "
                                       "on the path of a non-interactive login).")
                                .arg(missing.join(QStringLiteral(", ")), m_profile.host));
        return;
    }
    Q_EMIT finished(true,
                    QStringLiteral("Connected; a command takes %1 s. Partitions: %2.")
                            .arg(QString::number(seconds, 'f', 2), partitions));
}
