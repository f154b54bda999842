// SPDX-License-Identifier: GPL-3.0-or-later
#include "portal/folders.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

namespace {

bool copyTree(const QString &from, const QString &to, QString *error)
{
    if (!QDir().mkpath(to)) {
        *error = QStringLiteral("%1 cannot be created").arg(to);
        return false;
    }
    QDirIterator entries(from,
                         QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    while (entries.hasNext()) {
        const QFileInfo entry = entries.nextFileInfo();
        const QString target = to + QLatin1Char('/') + entry.fileName();
        if (entry.isDir() && !entry.isSymLink()) {
            if (!copyTree(entry.filePath(), target, error))
                return false;
            continue;
        }
        QFile file(entry.filePath());
        if (!file.copy(target)) {
            *error = QStringLiteral("%1 cannot be copied: %2")
                             .arg(entry.filePath(), file.errorString());
            return false;
        }
    }
    return true;
}

}

namespace Folders {

bool move(const QString &from, const QString &to, QString *error)
{
    if (QFileInfo::exists(to)) {
        *error = QStringLiteral("%1 already exists").arg(to);
        return false;
    }
    if (!QDir().mkpath(QFileInfo(to).path())) {
        *error = QStringLiteral("%1 cannot be created").arg(QFileInfo(to).path());
        return false;
    }
    if (QDir().rename(from, to))
        return true;
    // Another file system: a copy, and the original goes only once the copy is whole.
    if (!copyTree(from, to, error)) {
        QDir(to).removeRecursively();
        return false;
    }
    QDir(from).removeRecursively();
    return true;
}

}
