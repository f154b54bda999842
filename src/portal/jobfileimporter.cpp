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

// The name as a message can show it: control characters as escapes.
QString shown(const QString &name)
{
    QString text;
    for (const QChar c : name) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            text += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            text += c;
    }
    return text;
}

// Writes one file of the job into its folder; says which and why where it cannot.
QString writeJobFile(const QString &folder, const QString &what, const QString &name,
                     const QString &content)
{
    const QString failure = QStringLiteral("Unable to create %1 %2: ").arg(what, shown(name));
    if (!isPlainFileName(name))
        return failure
                + QStringLiteral("the job file may only name a plain file in its folder, without "
                                 "a folder part or control characters.");
    QFile file(folder + QLatin1Char('/') + name);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
        return failure + file.errorString();
    const QByteArray bytes = content.toUtf8();
    if (file.write(bytes) == bytes.size() && file.flush())
        return QString();
    const QString error = file.errorString();
    // A cut-off deck must not be left for a job to run on.
    file.remove();
    return failure + error;
}

QString text(const QJsonObject &job, const char *key)
{
    return job.value(QLatin1String(key)).toString();
}

// Which key of the job file is missing or of the wrong kind, in words; empty when none is.
QString keyProblem(const QJsonObject &job, const QString &path)
{
    using Type = QJsonValue::Type;
    struct Key
    {
        const char *name;
        Type type;
        bool required;
    };
    const bool d3 = job.value(QLatin1String("flag_d3")).toBool();
    const Key keys[] = {
        { "input_file_name", Type::String, true },
        { "input_file_content", Type::String, true },
        { "flag_d3", Type::Bool, false },
        { "d12_file_name", Type::String, d3 },
        { "d12_file_content", Type::String, false },
        { "flag_f34", Type::Bool, false },
        { "f34_file_content", Type::String, false },
        { "title", Type::String, false },
        { "program", Type::Double, false },
        { "ncpus", Type::Double, false },
        { "user_id", Type::Double, false },
        { "user_token", Type::String, false },
        { "job_id", Type::Double, false },
    };
    for (const Key &key : keys) {
        const QJsonValue value = job.value(QLatin1String(key.name));
        if (value.isUndefined() && key.required)
            return QStringLiteral("The job file %1 has no \"%2\".")
                    .arg(path, QLatin1String(key.name));
        if (!value.isUndefined() && value.type() != key.type)
            return QStringLiteral("In the job file %1, \"%2\" is not %3.")
                    .arg(path, QLatin1String(key.name),
                         key.type == Type::String         ? QStringLiteral("a text")
                                 : key.type == Type::Bool ? QStringLiteral("true or false")
                                                          : QStringLiteral("a number"));
    }
    return QString();
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
    QJsonParseError parse;
    const QJsonDocument document = QJsonDocument::fromJson(jobFile.readAll(), &parse);
    if (parse.error != QJsonParseError::NoError || !document.isObject()) {
        imported.error = QStringLiteral("The job file %1 is not a portal job: %2.")
                                 .arg(path,
                                      parse.error != QJsonParseError::NoError
                                              ? parse.errorString()
                                              : QStringLiteral("it holds no JSON object"));
        return imported;
    }
    const QJsonObject job = document.object();
    imported.error = keyProblem(job, path);
    if (!imported.ok())
        return imported;
    const QString inputName = text(job, "input_file_name");
    const bool flagD3 = job.value(QLatin1String("flag_d3")).toBool();
    imported.error = writeJobFile(dir, QStringLiteral("input file"), inputName,
                                  text(job, "input_file_content"));
    if (imported.ok() && job.value(QLatin1String("flag_f34")).toBool())
        imported.error = writeJobFile(dir, QStringLiteral("f34 file"), QStringLiteral("fort.34"),
                                      text(job, "f34_file_content"));
    if (imported.ok() && flagD3)
        imported.error = writeJobFile(dir, QStringLiteral("d12 file"), text(job, "d12_file_name"),
                                      text(job, "d12_file_content"));
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
