// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef FOLDERS_H
#define FOLDERS_H

#include <QString>

namespace Folders {

// Moves a folder with everything in it to a path that does not exist yet, also onto another
// file system. On failure it says why in *error and leaves the folder whole where it was.
bool move(const QString &from, const QString &to, QString *error);

}

#endif
