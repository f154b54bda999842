// SPDX-License-Identifier: GPL-3.0-or-later
#include "testsupport.h"

#include "settings/settingskeys.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QTest>

#include <sys/wait.h>

IsolatedEnvironment::IsolatedEnvironment()
{
    QDir(m_root.path()).mkpath(QStringLiteral("tmp"));
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_root.path());
    qputenv("TMPDIR", QFile::encodeName(m_root.path() + QStringLiteral("/tmp")));
}

QSettings launcherSettings()
{
    return QSettings(SettingsKeys::Organization, SettingsKeys::Application);
}

QString writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

QString writeScript(const QString &path, const QByteArray &body)
{
    writeFile(path, "#!/bin/sh\n" + body);
    QFile::setPermissions(path, QFile::permissions(path) | QFile::ExeOwner);
    return path;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool processAlive(qint64 pid)
{
    if (pid <= 0)
        return false;
    // A zombie counts as gone: reap it if it is one of ours.
    ::waitpid(pid_t(pid), nullptr, WNOHANG);
    const QByteArray line = readFile(QStringLiteral("/proc/%1/stat").arg(pid));
    const qsizetype close = line.lastIndexOf(')');
    return close > 0 && line.mid(close + 2, 1) != "Z";
}

qint64 waitForPid(const QString &path)
{
    if (!QTest::qWaitFor([path] { return !readFile(path).trimmed().isEmpty(); }, 10000))
        qWarning("no process id in %s", qPrintable(path));
    return readFile(path).trimmed().toLongLong();
}
