#ifndef SETTINGSKEYS_H
#define SETTINGSKEYS_H

#include <QString>

class QSettings;

namespace SettingsKeys {

inline const QString Organization = QStringLiteral("quillmoor");
inline const QString Application = QStringLiteral("MOLTRA Farbo Starter");
inline const QString MoltraDir = QStringLiteral("moltraDir");

// Writes the bare program name into every executable key that is absent or empty.
void seedExecutableNames(QSettings &settings);

// A key's value as a string; absent keys read as empty.
QString stringValue(const QSettings &settings, const QString &key);

}

#endif
