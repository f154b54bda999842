// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef SETTINGSKEYS_H
#define SETTINGSKEYS_H

#include "cluster/clusterprofile.h"
#include "cluster/sshclient.h"
#include "job/jobqueue.h"
#include "job/packageconfig.h"

#include <QList>

#include <QString>

class QSettings;

namespace SettingsKeys {

inline const QString Organization = QStringLiteral("quillmoor");
inline const QString Application = QStringLiteral("MOLTRA Farbo Starter");
inline const QString MoltraDir = QStringLiteral("moltraDir");
// What the window remembers: its size and place, the decks and job files opened last (newest
// first), the folder the file dialog opens in, and where, with which program and on how many
// cores the last job was started.
inline const QString WindowGeometry = QStringLiteral("windowGeometry");
inline const QString RecentFiles = QStringLiteral("recentFiles");
inline const QString LastFolder = QStringLiteral("lastFolder");
inline const QString LastRunOn = QStringLiteral("lastRunOn");
inline const QString LastProgram = QStringLiteral("lastProgram");
inline const QString LastCores = QStringLiteral("lastCores");
// How the parallel builds are started: the MPI launcher, its extra arguments (split into words
// as a POSIX shell splits them, without expanding anything) and the option that takes the
// number of processes.
inline const QString MpiLauncher = QStringLiteral("mpiLauncher");
inline const QString MpiArguments = QStringLiteral("mpiArguments");
inline const QString MpiCoresOption = QStringLiteral("mpiCoresOption");
// How many cores the jobs on this computer use at once, and how long a waiting job may be
// passed by smaller ones.
inline const QString LocalCores = QStringLiteral("localCores");
inline const QString BackfillMinutes = QStringLiteral("backfillMinutes");
inline constexpr int MaxLocalCores = 4096;

// The key holding the executable's name of a build, e.g. "PmoltraBinary".
inline QString binaryKey(const QString &programName)
{
    return programName + QStringLiteral("Binary");
}

// Writes the bare program name into every executable key that is absent or empty.
void seedExecutableNames(QSettings &settings);

// A key's value as a string; absent keys read as empty, the MPI keys as their defaults.
QString stringValue(const QSettings &settings, const QString &key);

// What a job needs of the settings.
PackageConfig packageConfig(const QSettings &settings);

// What this computer runs at once; a stored value out of bounds reads as the default, and
// *problem, where given, says so.
JobQueue::Limits localLimits(const QSettings &settings, QString *problem = nullptr);

// The cluster profiles, each under "clusters/<name>/", sorted by name.
QList<ClusterProfile> clusterProfiles(QSettings &settings);
// Replaces every stored profile with these.
void storeClusterProfiles(QSettings &settings, const QList<ClusterProfile> &profiles);
// How the launcher starts ssh: sockets in a folder of the user's own, and the launcher itself
// as the helper that asks for a passphrase.
SshConfig sshConfig();

}

#endif
