// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef PACKAGECONFIG_H
#define PACKAGECONFIG_H

#include <QHash>
#include <QString>

// Where the package is and how its builds are started, as the user set it: what a job needs
// to know of the launcher's settings.
struct PackageConfig
{
    QString packageDir;
    // The executable's file name of each build, by program name; a build not named here has
    // its program's name.
    QHash<QString, QString> executables;
    // The MPI launcher of the parallel builds, its extra arguments (split as a POSIX shell
    // splits words, without expanding anything) and the option that takes the process count.
    QString mpiLauncher = QStringLiteral("mpirun");
    QString mpiArguments;
    QString mpiCoresOption = QStringLiteral("-n");

    QString executablePath(const QString &programName) const
    {
        return packageDir + QLatin1Char('/') + executables.value(programName, programName);
    }
};

#endif
