// SPDX-License-Identifier: GPL-3.0-or-later
#include "job/processgroups.h"

#include <QDir>
#include <QFile>

#ifdef Q_OS_UNIX
#include <csignal>
#endif

namespace ProcessGroups {

void signal(qint64 group, Signal signal)
{
#ifdef Q_OS_UNIX
    if (group > 0)
        ::kill(-pid_t(group), signal == Signal::Terminate ? SIGTERM : SIGKILL);
#else
    Q_UNUSED(group);
    Q_UNUSED(signal);
#endif
}

bool alive(qint64 group)
{
    if (group <= 0)
        return false;
#ifdef Q_OS_LINUX
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString &entry : entries) {
        if (!entry.front().isDigit())
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        // "pid (name) state ppid pgrp ...": the name may hold anything but ends at the last ')'.
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 2 && fields.at(2).toLongLong() == group && fields.at(0) != "Z")
            return true;
    }
    return false;
#elif defined(Q_OS_UNIX)
    return ::kill(-pid_t(group), 0) == 0;
#else
    return false;
#endif
}

QString bootId()
{
    QFile file(QStringLiteral("/proc/sys/kernel/random/boot_id"));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromLatin1(file.readAll().trimmed());
}

}
