#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include <csignal>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

IsolatedEnvironment::IsolatedEnvironment()
{
    QDir(m_root.path()).mkpath(QStringLiteral("settings"));
    QDir(m_root.path()).mkpath(QStringLiteral("tmp"));
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       m_root.path() + QStringLiteral("/settings"));
    qputenv("TMPDIR", QFile::encodeName(m_root.path() + QStringLiteral("/tmp")));
}

namespace {
QSettings launcherSettings()
{
    return QSettings(QStringLiteral("quillmoor"), QStringLiteral("MOLTRA Farbo Starter"));
}
}

void IsolatedEnvironment::clearSettings()
{
    launcherSettings().clear();
}

void storeSetting(const QString &key, const QVariant &value)
{
    launcherSettings().setValue(key, value);
}

QString storedSetting(const QString &key)
{
    return launcherSettings().value(key).toString();
}

QString writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || file.write(content) != content.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

QString writeScript(const QString &path, const QByteArray &body)
{
    writeFile(path, "#!/bin/sh\n" + body);
    QFile::setPermissions(
            path, QFile::permissions(path) | QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther);
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
    if (::kill(pid_t(pid), 0) != 0)
        return false;
    QFile status(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    const QByteArray line = status.readAll();
    const int close = line.lastIndexOf(')');
    return close < 0 || line.mid(close + 2, 1) != "Z";
}
