#include "settings/settingskeys.h"

#include <QSettings>
#include <QStringList>

namespace SettingsKeys {

QString binaryKey(const QString &program)
{
    return program + QStringLiteral("Binary");
}

void seedExecutableNames(QSettings &settings)
{
    const QStringList programs
            = { QStringLiteral("moltra"), QStringLiteral("Pmoltra"), QStringLiteral("MPPmoltra"),
                QStringLiteral("evalix"), QStringLiteral("Pevalix"), QStringLiteral("zetrel") };
    for (const QString &program : programs) {
        const QString key = binaryKey(program);
        if (stringValue(settings, key).isEmpty())
            settings.setValue(key, program);
    }
}

QString stringValue(const QSettings &settings, const QString &key)
{
    return settings.value(key).toString();
}

}
