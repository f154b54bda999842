// SPDX-License-Identifier: GPL-3.0-or-later
#include "mainwindow/texteditor.h"

#include "job/shellwords.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

namespace {

// The command of a desktop entry's Exec key for the file: its field codes replaced, the file
// added where it names none.
QStringList commandOf(const QString &desktopFile, const QString &path, QString *error)
{
    QFile file(desktopFile);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        *error = QStringLiteral("%1: %2").arg(desktopFile, file.errorString());
        return {};
    }
    bool entry = false;
    QString exec;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(QLatin1Char('[')))
            entry = line == QLatin1String("[Desktop Entry]");
        else if (entry && line.startsWith(QLatin1String("Exec=")))
            exec = line.mid(5);
        // Started without a terminal, it would wait for input that never comes.
        else if (entry && line == QLatin1String("Terminal=true")) {
            *error = QStringLiteral("its editor (%1) runs in a terminal").arg(desktopFile);
            return {};
        }
    }
    QStringList words = ShellWords::split(exec, error);
    if (words.isEmpty()) {
        if (error->isEmpty())
            *error = QStringLiteral("%1 names no command").arg(desktopFile);
        return {};
    }
    QStringList command;
    bool named = false;
    for (const QString &word : std::as_const(words)) {
        if (word == QLatin1String("%f") || word == QLatin1String("%F")) {
            command << path;
            named = true;
        } else if (word == QLatin1String("%u") || word == QLatin1String("%U")) {
            command << QUrl::fromLocalFile(path).toString();
            named = true;
        } else if (word.size() == 2 && word.startsWith(QLatin1Char('%'))) {
            // The icon, name and location codes have no meaning here.
        } else {
            command << QString(word).replace(QLatin1String("%%"), QLatin1String("%"));
        }
    }
    if (!named)
        command << path;
    return command;
}

}

namespace TextEditor {

void open(const QString &path, QObject *context, const std::function<void(QString)> &done)
{
    auto *query = new QProcess(context);
    QObject::connect(query, &QProcess::errorOccurred, context, [query, done] {
        // A failed start is also a finished process; its end is not awaited.
        if (query->error() != QProcess::FailedToStart)
            return;
        query->deleteLater();
        done(QStringLiteral("xdg-mime cannot be run: %1").arg(query->errorString()));
    });
    QObject::connect(query, &QProcess::finished, context, [query, path, done] {
        query->deleteLater();
        const QString id = QString::fromUtf8(query->readAllStandardOutput()).trimmed();
        const QString desktopFile = id.isEmpty()
                ? QString()
                : QStandardPaths::locate(QStandardPaths::ApplicationsLocation, id);
        if (desktopFile.isEmpty())
            return done(QStringLiteral("this desktop names no editor of plain text files"));
        QString error;
        const QStringList command = commandOf(desktopFile, path, &error);
        if (command.isEmpty())
            return done(error);
        if (!QProcess::startDetached(command.first(), command.mid(1)))
            return done(QStringLiteral("%1 cannot be started").arg(command.first()));
        done(QString());
    });
    query->start(
            QStringLiteral("xdg-mime"),
            { QStringLiteral("query"), QStringLiteral("default"), QStringLiteral("text/plain") });
}

}
