// SPDX-License-Identifier: GPL-3.0-or-later
#include "cluster/clusterprofile.h"

#include "job/shellwords.h"

#include <QRegularExpression>

QString ClusterProfile::problem() const
{
    if (host.trimmed().isEmpty())
        return QStringLiteral("The cluster %1 has no host: enter its SSH destination in Settings, "
                              "\"Clusters\".")
                .arg(name);
    // An option would be taken for the destination, and a blank would split it.
    if (host.startsWith(QLatin1Char('-')) || host.contains(QLatin1Char(' ')))
        return QStringLiteral("The host of the cluster %1 is not an SSH destination: %2.")
                .arg(name, host);
    QString error;
    sshOptionWords(&error);
    if (!error.isEmpty())
        return QStringLiteral("The SSH options of the cluster %1 cannot be read: %2.")
                .arg(name, error);
    if (remoteDir.trimmed().isEmpty()
        || remoteDir.split(QLatin1Char('/')).contains(QStringLiteral("..")))
        return QStringLiteral("The remote folder of the cluster %1 must be a folder without \"..\" "
                              "in it: %2.")
                .arg(name, remoteDir);
    if (packageDir.trimmed().isEmpty())
        return QStringLiteral("The cluster %1 has no package directory: enter where the package is "
                              "installed on the cluster.")
                .arg(name);
    // Each goes into a line of the job script of its own.
    for (const QString &word : { partition, account, timeLimit }) {
        if (word.contains(QRegularExpression(QStringLiteral("\\s"))))
            return QStringLiteral("The partition, account and time limit of the cluster %1 must "
                                  "each be one word: \"%2\".")
                    .arg(name, word);
    }
    ShellWords::split(launcher, &error);
    if (!error.isEmpty())
        return QStringLiteral("The launcher of the cluster %1 cannot be read: %2.")
                .arg(name, error);
    return QString();
}

QStringList ClusterProfile::sshOptionWords(QString *error) const
{
    return ShellWords::split(sshOptions, error);
}

QString ClusterProfile::folder() const
{
    const QString trimmed = remoteDir.trimmed();
    if (trimmed == QLatin1String("~"))
        return QStringLiteral(".");
    return trimmed.startsWith(QLatin1String("~/")) ? trimmed.mid(2) : trimmed;
}

QString ClusterProfile::jobDir(const QString &name) const
{
    // A relative folder is the remote home's: the shell starts there.
    return ShellWords::quote(folder() + QLatin1Char('/') + name);
}

PackageConfig ClusterProfile::packageConfig(const PackageConfig &local) const
{
    PackageConfig config = local;
    config.packageDir = packageDir;
    QString error;
    QStringList words = ShellWords::split(launcher, &error);
    config.mpiLauncher = words.isEmpty() ? QString() : words.takeFirst();
    QStringList quoted;
    for (const QString &word : std::as_const(words))
        quoted.append(ShellWords::quote(word));
    config.mpiArguments = quoted.join(QLatin1Char(' '));
    config.mpiCoresOption.clear();
    return config;
}
