#ifndef SETTINGSKEYS_H
#define SETTINGSKEYS_H

#include <QString>

class QSettings;

namespace SettingsKeys {

inline const QString Organization = QStringLiteral("quillmoor");
inline const QString MoltraDir = QStringLiteral("moltraDir");
inline const QString MoltraBinary = QStringLiteral("moltraBinary");
inline const QString EvalixBinary = QStringLiteral("evalixBinary");

// The key that holds the executable name of a program, e.g. "PmoltraBinary" for "Pmoltra".
QString binaryKey(const QString &program);

// Writes the bare program name into every executable key that is absent or empty.
void seedExecutableNames(QSettings &settings);

// A key's value as a string; absent keys read as empty.
QString stringValue(const QSettings &settings, const QString &key);

}

#endif
