// SPDX-License-Identifier: GPL-3.0-or-later
#include "httpsserver.h"

#include <QFile>
#include <QRegularExpression>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslSocket>

#include <memory>

namespace {
QByteArray testData(const char *name)
{
    QFile file(QStringLiteral(MOLTRA_TEST_DATA "/") + QLatin1String(name));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("missing test data %s", name);
    return file.readAll();
}
}

void trustTestAuthority()
{
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.addCaCertificate(QSslCertificate(testData("ca.crt")));
    QSslConfiguration::setDefaultConfiguration(configuration);
}

HttpsServer::HttpsServer()
{
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setLocalCertificate(QSslCertificate(testData("server.crt")));
    configuration.setPrivateKey(QSslKey(testData("server.key"), QSsl::Ec));
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
    m_server.setSslConfiguration(configuration);
    connect(&m_server, &QSslServer::pendingConnectionAvailable, this, [this] {
        while (auto *socket = qobject_cast<QSslSocket *>(m_server.nextPendingConnection())) {
            connect(socket, &QSslSocket::readyRead, this, [this, socket] { read(socket); });
            connect(socket, &QSslSocket::disconnected, this, [this, socket] {
                m_pending.remove(socket);
                socket->deleteLater();
            });
        }
    });
    if (!m_server.listen(QHostAddress::LocalHost))
        qFatal("the test server cannot listen");
}

QString HttpsServer::url() const
{
    return QStringLiteral("https://127.0.0.1:%1/compute/upload/").arg(m_server.serverPort());
}

void HttpsServer::read(QSslSocket *socket)
{
    Request &request = m_pending[socket];
    QByteArray chunk = socket->readAll();
    if (!request.head.endsWith("\r\n\r\n")) {
        request.head += chunk;
        const qsizetype end = request.head.indexOf("\r\n\r\n");
        if (end < 0)
            return;
        chunk = request.head.mid(end + 4);
        request.head.truncate(end + 4);
    }
    request.bodySize += chunk.size();
    if (keepBodies)
        request.body += chunk;
    static const QRegularExpression length(QStringLiteral("\r\nContent-Length: (\\d+)\r\n"));
    if (request.bodySize < length.match(QString::fromLatin1(request.head)).captured(1).toLongLong())
        return;
    requests.append(m_pending.take(socket));
    if (!answering)
        return;
    socket->write("HTTP/1.1 " + status
                  + "\r\nContent-Type: application/json\r\nConnection: close\r\nContent-Length: "
                  + QByteArray::number(answer.size() * answerRepeats) + "\r\n\r\n");
    auto left = std::make_shared<qint64>(answerRepeats);
    const auto more = [this, socket, left] {
        while (*left > 0 && socket->bytesToWrite() + socket->encryptedBytesToWrite() < (1 << 20)) {
            socket->write(answer);
            --*left;
        }
        if (*left == 0) {
            --*left;
            socket->disconnectFromHost();
        }
    };
    connect(socket, &QSslSocket::encryptedBytesWritten, this, more);
    more();
}

FormItems decodeForm(const QByteArray &body)
{
    FormItems items;
    for (const QByteArray &item : body.split('&')) {
        const QList<QByteArray> parts = item.split('=');
        items.append({ QByteArray::fromPercentEncoding(parts.first()),
                       parts.size() == 2 ? QByteArray::fromPercentEncoding(parts.last())
                                         : QByteArray("malformed") });
    }
    return items;
}
