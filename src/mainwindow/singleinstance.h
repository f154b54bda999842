// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef SINGLEINSTANCE_H
#define SINGLEINSTANCE_H

#include <QObject>
#include <QStringList>

class QLocalServer;

// One launcher per user and display: a second start hands its files to the first through a
// local socket and ends, as the desktop's "open with" does.
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    // Of this user's launcher on this display.
    static QString serverName();
    // Gives the files to the launcher that listens under the name; false when none answers
    // within the time, as when a crashed launcher left its socket behind.
    static bool handOver(const QString &name, const QStringList &files, int timeoutMs = 3000);

    explicit SingleInstance(const QString &name, QObject *parent = nullptr);

    // Listens for later starts; a socket nobody answers on is taken over. False, with the
    // reason, when another launcher answers or the socket cannot be made.
    bool listen(QString *error);

Q_SIGNALS:
    // A later start's files, absolute; none when it was started without any.
    void filesReceived(const QStringList &files);

private:
    void receive();

    QString m_name;
    QLocalServer *m_server;
};

#endif
