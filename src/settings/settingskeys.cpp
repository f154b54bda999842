// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/settingskeys.h"

#include "job/programcatalog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QStandardPaths>

namespace SettingsKeys {

void seedExecutableNames(QSettings &settings)
{
    for (const Program &program : ProgramCatalog::programs()) {
        if (stringValue(settings, binaryKey(program.name)).isEmpty())
            settings.setValue(binaryKey(program.name), program.name);
    }
}

QString stringValue(const QSettings &settings, const QString &key)
{
    QString fallback;
    if (key == MpiLauncher)
        fallback = QStringLiteral("mpirun");
    else if (key == MpiCoresOption)
        fallback = QStringLiteral("-n");
    return settings.value(key, fallback).toString();
}

PackageConfig packageConfig(const QSettings &settings)
{
    PackageConfig config;
    config.packageDir = stringValue(settings, MoltraDir);
    for (const Program &program : ProgramCatalog::programs())
        config.executables.insert(program.name, stringValue(settings, binaryKey(program.name)));
    config.mpiLauncher = stringValue(settings, MpiLauncher);
    config.mpiArguments = stringValue(settings, MpiArguments);
    config.mpiCoresOption = stringValue(settings, MpiCoresOption);
    return config;
}

namespace {

const QString Clusters = QStringLiteral("clusters");

}

QList<ClusterProfile> clusterProfiles(QSettings &settings)
{
    QList<ClusterProfile> profiles;
    settings.beginGroup(Clusters);
    for (const QString &name : settings.childGroups()) {
        settings.beginGroup(name);
        ClusterProfile profile;
        profile.name = name;
        profile.host = settings.value(QStringLiteral("host")).toString();
        profile.sshOptions = settings.value(QStringLiteral("sshOptions")).toString();
        profile.remoteDir
                = settings.value(QStringLiteral("remoteDir"), profile.remoteDir).toString();
        profile.packageDir = settings.value(QStringLiteral("packageDir")).toString();
        profile.launcher = settings.value(QStringLiteral("launcher"), profile.launcher).toString();
        profile.partition = settings.value(QStringLiteral("partition")).toString();
        profile.account = settings.value(QStringLiteral("account")).toString();
        profile.timeLimit
                = settings.value(QStringLiteral("timeLimit"), profile.timeLimit).toString();
        profile.setup = settings.value(QStringLiteral("setup")).toString();
        // A stored value below what the page offers is used as it stands; none at all is not.
        profile.pollSeconds = qMax(
                1, settings.value(QStringLiteral("pollSeconds"), profile.pollSeconds).toInt());
        settings.endGroup();
        profiles.append(profile);
    }
    settings.endGroup();
    return profiles;
}

void storeClusterProfiles(QSettings &settings, const QList<ClusterProfile> &profiles)
{
    settings.remove(Clusters);
    settings.beginGroup(Clusters);
    for (const ClusterProfile &profile : profiles) {
        settings.beginGroup(profile.name);
        settings.setValue(QStringLiteral("host"), profile.host);
        settings.setValue(QStringLiteral("sshOptions"), profile.sshOptions);
        settings.setValue(QStringLiteral("remoteDir"), profile.remoteDir);
        settings.setValue(QStringLiteral("packageDir"), profile.packageDir);
        settings.setValue(QStringLiteral("launcher"), profile.launcher);
        settings.setValue(QStringLiteral("partition"), profile.partition);
        settings.setValue(QStringLiteral("account"), profile.account);
        settings.setValue(QStringLiteral("timeLimit"), profile.timeLimit);
        settings.setValue(QStringLiteral("setup"), profile.setup);
        settings.setValue(QStringLiteral("pollSeconds"), profile.pollSeconds);
        settings.endGroup();
    }
    settings.endGroup();
}

SshConfig sshConfig()
{
    SshConfig config;
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    config.controlDir = runtime + QStringLiteral("/moltra-ssh");
    QDir().mkpath(config.controlDir);
    QFile::setPermissions(config.controlDir,
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    config.askpass = QCoreApplication::applicationFilePath();
    return config;
}

}
