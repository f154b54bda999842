// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/settingskeys.h"

#include "job/programcatalog.h"

#include <QSettings>

namespace SettingsKeys {

void seedExecutableNames(QSettings &settings)
{
    for (const Program &program : ProgramCatalog::programs()) {
        if (stringValue(settings, program.binaryKey()).isEmpty())
            settings.setValue(program.binaryKey(), program.name);
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

}
