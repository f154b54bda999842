// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/settingskeys.h"

#include "job/programcatalog.h"

#include <QSettings>

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

}
