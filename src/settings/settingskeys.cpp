// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/settingskeys.h"

#include "job/programcatalog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QStandardPaths>
#include <QThread>

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

JobQueue::Limits localLimits(const QSettings &settings, QString *problem)
{
    JobQueue::Limits limits;
    const int available = QThread::idealThreadCount();
    limits.cores = available;
    const QVariant stored = settings.value(LocalCores);
    bool number = false;
    const int cores = stored.toInt(&number);
    if (number && cores >= 1 && cores <= MaxLocalCores)
        limits.cores = cores;
    else if (stored.isValid() && problem)
        *problem = QCoreApplication::translate("SettingsKeys",
                                               "The setting %1=%2 is not a number of cores from 1 "
                                               "to %3: jobs here use %4 cores, this computer's.")
                           .arg(LocalCores, stored.toString())
                           .arg(MaxLocalCores)
                           .arg(available);
    const int minutes = settings.value(BackfillMinutes, limits.backfillMinutes).toInt(&number);
    if (number && minutes >= 0)
        limits.backfillMinutes = minutes;
    return limits;
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
        profile.maxSubmitted = qMax(
                1, settings.value(QStringLiteral("maxSubmitted"), profile.maxSubmitted).toInt());
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
        settings.setValue(QStringLiteral("maxSubmitted"), profile.maxSubmitted);
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
