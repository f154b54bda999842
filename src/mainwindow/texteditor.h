// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef TEXTEDITOR_H
#define TEXTEDITOR_H

#include <QString>

#include <functional>

class QObject;

// The desktop's editor of plain text files. Decks are opened with the launcher itself, so the
// desktop's handler of their own type would only bring them back here.
namespace TextEditor {

// Opens the file in that editor, without waiting for it; tells why it could not, or an empty
// text, once it knows.
void open(const QString &path, QObject *context, const std::function<void(QString)> &done);

}

#endif
