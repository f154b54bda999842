// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef SHELLWORDS_H
#define SHELLWORDS_H

#include <QStringList>

namespace ShellWords {

// Splits text into words as a POSIX shell does, without expanding anything: blanks outside
// quotes separate words, single quotes keep everything as it stands, double quotes keep all but
// a backslash before $ ` " \ or a newline, and a backslash outside quotes keeps the next
// character. An unclosed quote or a final backslash sets *error and gives no words.
QStringList split(const QString &text, QString *error);
// The word in single quotes, as a POSIX shell reads it back unchanged, whatever it holds.
QString quote(const QString &word);

}

#endif
