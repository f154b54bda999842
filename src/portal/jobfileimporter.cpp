// SPDX-License-Identifier: GPL-3.0-or-later
#include "portal/jobfileimporter.h"

#include "job/programcatalog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <algorithm>

namespace {

// Names from a job file must stay inside the job folder and name the file they appear to.
bool isPlainFileName(const QString &name)
{
    const bool control = std::any_of(name.begin(), name.end(), [](QChar c) {
        return c.unicode() < 0x20 || c.unicode() == 0x7F;
    });
    return !name.isEmpty() && !control && name != QLatin1String(".") && name != QLatin1String("..")
            && !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\'))
            && !QDir::isAbsolutePath(name);
}

bool writeJobFile(const QString &folder, const QString &name, const QString &content)
{
    if (!isPlainFileName(name))
        return false;
    QFile file(folder + QLatin1Char('/') + name);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
        return false;
    const QByteArray bytes = content.toUtf8();
    if (file.write(bytes) == bytes.size() && file.flush())
        return true;
    // A cut-off deck must not be left for a job to run on.
    file.remove();
    return false;
}

QString text(const QJsonObject &job, const char *key)
{
    return job.value(QLatin1String(key)).toString();
}

}

namespace JobFileImporter {

QString refusal(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return QStringLiteral("The file %1 does not exist.").arg(path);
    if (!info.isFile())
        return QStringLiteral("The file %1 is not a regular file.").arg(path);
    if (!info.isReadable())
        return QStringLiteral("The file %1 cannot be read.").arg(path);
    return QString();
}

ImportedJob import(const QString &path)
{
    ImportedJob imported;
    imported.error = refusal(path);
    QFile jobFile(path);
    if (imported.ok() && !jobFile.open(QIODevice::ReadOnly | QIODevice::Text))
        imported.error = QStringLiteral("The file %1 cannot be read.").arg(path);
    if (!imported.ok())
        return imported;

    auto folder = std::make_unique<QTemporaryDir>(QDir::tempPath()
                                                  + QStringLiteral("/farbojob_XXXXXX"));
    if (!folder->isValid()) {
        imported.error = QStringLiteral("Unable to create temporary folder");
        return imported;
    }
    const QString dir = folder->path();
    const QJsonObject job = QJsonDocument::fromJson(jobFile.readAll()).object();
    const QString inputName = text(job, "input_file_name");
    const bool flagD3 = job.value(QLatin1String("flag_d3")).toBool();
    if (!writeJobFile(dir, inputName, text(job, "input_file_content")))
        imported.error = QStringLiteral("Unable to create input file");
    else if (job.value(QLatin1String("flag_f34")).toBool()
             && !writeJobFile(dir, QStringLiteral("fort.34"), text(job, "f34_file_content")))
        imported.error = QStringLiteral("Unable to create f34 file");
    else if (flagD3
             && !writeJobFile(dir, text(job, "d12_file_name"), text(job, "d12_file_content")))
        imported.error = QStringLiteral("Unable to create d12 file");
    if (!imported.ok())
        return imported;

    imported.folder = std::move(folder);
    imported.deck = dir + QLatin1Char('/') + inputName;
    imported.title = text(job, "title");
    imported.program
            = ProgramCatalog::nameForPortalCode(job.value(QLatin1String("program")).toInt());
    imported.cores = job.value(QLatin1String("ncpus")).toInt();
    imported.identity = { job.value(QLatin1String("user_id")).toInt(), text(job, "user_token"),
                          job.value(QLatin1String("job_id")).toInt() };
    return imported;
}

}
