// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef TESTSUPPORT_H
#define TESTSUPPORT_H

#include <QByteArray>
#include <QSettings>
#include <QString>
#include <QTemporaryDir>

// A settings store and a temporary directory of the test's own, never the user's.
class IsolatedEnvironment
{
public:
    IsolatedEnvironment();
    QString path() const { return m_root.path(); }

private:
    QTemporaryDir m_root;
};

// The launcher's own settings store, as the test's environment places it.
QSettings launcherSettings();

QString writeFile(const QString &path, const QByteArray &content);
// Writes an executable shell script that stands in for one of the package's programs.
QString writeScript(const QString &path, const QByteArray &body);
QByteArray readFile(const QString &path);
bool processAlive(qint64 pid);
// Waits until the file holds a process id, and returns it.
qint64 waitForPid(const QString &path);

#endif
