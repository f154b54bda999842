// SPDX-License-Identifier: GPL-3.0-or-later
#include "httpsserver.h"

#include <QFile>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslSocket>

#include <cctype>

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

void HttpsServer::setReply(int status, const QByteArray &body)
{
    m_status = status;
    m_body = body;
}

void HttpsServer::read(QSslSocket *socket)
{
    Pending &pending = m_pending[socket];
    QByteArray chunk = socket->readAll();
    if (pending.expected < 0) {
        pending.head += chunk;
        const qsizetype end = pending.head.indexOf("\r\n\r\n");
        if (end < 0)
            return;
        chunk = pending.head.mid(end + 4);
        const QList<QByteArray> lines = pending.head.left(end).split('\n');
        pending.request.path = lines.first().split(' ').value(1);
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const qsizetype colon = lines.at(i).indexOf(':');
            pending.request.headers.insert(lines.at(i).left(colon).trimmed().toLower(),
                                           lines.at(i).mid(colon + 1).trimmed());
        }
        pending.expected = pending.request.headers.value("content-length").toLongLong();
    }
    pending.request.bodySize += chunk.size();
    if (keepBodies)
        pending.request.body += chunk;
    if (pending.request.bodySize < pending.expected)
        return;
    requests.append(m_pending.take(socket).request);
    if (!answering)
        return;
    socket->write("HTTP/1.1 " + QByteArray::number(m_status)
                  + " Reply\r\nContent-Type: application/json\r\nConnection: close\r\n"
                    "Content-Length: "
                  + QByteArray::number(m_body.size()) + "\r\n\r\n" + m_body);
    socket->disconnectFromHost();
}

bool decodeForm(const QByteArray &body, FormItems *items)
{
    const auto decode = [](const QByteArray &text, QByteArray *out) {
        for (qsizetype i = 0; i < text.size(); ++i) {
            const char c = text.at(i);
            if (c == '%') {
                if (i + 2 >= text.size() || !isxdigit(uchar(text.at(i + 1)))
                    || !isxdigit(uchar(text.at(i + 2))))
                    return false;
                out->append(char(text.mid(i + 1, 2).toInt(nullptr, 16)));
                i += 2;
            } else {
                out->append(c == '+' ? ' ' : c);
            }
        }
        return true;
    };
    items->clear();
    for (const QByteArray &item : body.split('&')) {
        const qsizetype equals = item.indexOf('=');
        QByteArray key;
        QByteArray value;
        if (equals < 0 || !decode(item.left(equals), &key) || !decode(item.mid(equals + 1), &value))
            return false;
        items->append({ key, value });
    }
    return true;
}
