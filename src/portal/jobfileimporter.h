// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef JOBFILEIMPORTER_H
#define JOBFILEIMPORTER_H

#include "job/portalidentity.h"

#include <QString>

#include <memory>

class QTemporaryDir;

// A portal job file unpacked into a job folder of its own, or why it could not be.
struct ImportedJob
{
    std::unique_ptr<QTemporaryDir> folder;
    QString deck;
    QString title;
    // Empty when the job file's program code selects none.
    QString program;
    int cores = 0;
    PortalIdentity identity;
    QString error;

    bool ok() const { return error.isEmpty(); }
};

namespace JobFileImporter {

// Reads a .farbojob file into a new job folder; a failed import leaves no folder behind.
ImportedJob import(const QString &path);

// Why the file cannot be read as an input, or empty when it can: only a regular, readable file
// is opened, since reading anything else could block the window.
QString refusal(const QString &path);

}

#endif
