// SPDX-License-Identifier: GPL-3.0-or-later
#include "mainwindow/singleinstance.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>

namespace {

// What a later start sends is small; anything longer is not one.
constexpr qint64 MaxMessage = 1 << 20;

}

QString SingleInstance::serverName()
{
    // The runtime folder is the user's own; the display tells sessions of one user apart.
    QString display = qEnvironmentVariable("WAYLAND_DISPLAY", qEnvironmentVariable("DISPLAY"));
    display.replace(QLatin1Char('/'), QLatin1Char('_'));
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation)
            + QStringLiteral("/moltra-farbo-starter-") + display;
}

bool SingleInstance::handOver(const QString &name, const QStringList &files, int timeoutMs)
{
    QLocalSocket socket;
    socket.connectToServer(name);
    if (!socket.waitForConnected(timeoutMs))
        return false;
    QJsonArray paths;
    for (const QString &file : files)
        paths.append(QDir().absoluteFilePath(file));
    socket.write(QJsonDocument(paths).toJson(QJsonDocument::Compact) + '\n');
    // Answered once the first has taken the files: a launcher that hangs does not.
    while (!socket.canReadLine()) {
        if (!socket.waitForReadyRead(timeoutMs))
            return false;
    }
    return socket.readLine() == "ok\n";
}

SingleInstance::SingleInstance(const QString &name, QObject *parent)
    : QObject(parent)
    , m_name(name)
    , m_server(new QLocalServer(this))
{
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::receive);
}

bool SingleInstance::listen(QString *error)
{
    if (m_server->listen(m_name))
        return true;
    if (m_server->serverError() == QAbstractSocket::AddressInUseError) {
        // Started at the same moment as another: it answers. Nobody answering: a crashed
        // launcher's socket, which is taken over.
        if (handOver(m_name, {}, 1000)) {
            *error = tr("Another launcher answers on %1.").arg(m_name);
            return false;
        }
        QLocalServer::removeServer(m_name);
        if (m_server->listen(m_name))
            return true;
    }
    *error = tr("Cannot listen on %1: %2.").arg(m_name, m_server->errorString());
    return false;
}

void SingleInstance::receive()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine()) {
                if (socket->bytesAvailable() > MaxMessage)
                    socket->abort();
                return;
            }
            const QJsonArray paths = QJsonDocument::fromJson(socket->readLine()).array();
            socket->write("ok\n");
            socket->flush();
            QStringList files;
            for (const QJsonValue &path : paths) {
                if (path.isString())
                    files << path.toString();
            }
            // Told once the socket's signal is over: what the files bring may ask the user,
            // and the connection may go while the question is open.
            QMetaObject::invokeMethod(
                    this, [this, files] { Q_EMIT filesReceived(files); }, Qt::QueuedConnection);
        });
    }
}
