#include "httpsserver.h"

#include <QFile>
#include <QProcess>
#include <QSslConfiguration>
#include <QSslSocket>

#include <cctype>

namespace {
bool runOpenssl(const QString &dir, const QStringList &arguments)
{
    QProcess openssl;
    openssl.setWorkingDirectory(dir);
    openssl.setProcessChannelMode(QProcess::MergedChannels);
    openssl.start(QStringLiteral("openssl"), arguments);
    if (!openssl.waitForFinished(60000) || openssl.exitCode() != 0) {
        qWarning("openssl %s failed: %s", qPrintable(arguments.join(QLatin1Char(' '))),
                 openssl.readAll().constData());
        return false;
    }
    return true;
}

QByteArray fileContent(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
}

TestCertificates::TestCertificates()
{
    const QString dir = m_dir.path();
    const QString ec = QStringLiteral("ec");
    QFile extensions(dir + QStringLiteral("/server.ext"));
    if (!extensions.open(QIODevice::WriteOnly))
        return;
    extensions.write("subjectAltName=IP:127.0.0.1\nbasicConstraints=CA:FALSE\n"
                     "extendedKeyUsage=serverAuth\n");
    extensions.close();
    const bool made
            = runOpenssl(dir,
                         { QStringLiteral("req"), QStringLiteral("-x509"),
                           QStringLiteral("-newkey"), ec, QStringLiteral("-pkeyopt"),
                           QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
                           QStringLiteral("-keyout"), QStringLiteral("ca.key"),
                           QStringLiteral("-out"), QStringLiteral("ca.crt"),
                           QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"),
                           QStringLiteral("/CN=Launcher Test CA"), QStringLiteral("-addext"),
                           QStringLiteral("basicConstraints=critical,CA:TRUE"),
                           QStringLiteral("-addext"),
                           QStringLiteral("keyUsage=critical,keyCertSign,cRLSign") })
            && runOpenssl(dir,
                          { QStringLiteral("req"), QStringLiteral("-newkey"), ec,
                            QStringLiteral("-pkeyopt"),
                            QStringLiteral("ec_paramgen_curve:prime256v1"),
                            QStringLiteral("-nodes"), QStringLiteral("-keyout"),
                            QStringLiteral("server.key"), QStringLiteral("-out"),
                            QStringLiteral("server.csr"), QStringLiteral("-subj"),
                            QStringLiteral("/CN=127.0.0.1") })
            && runOpenssl(dir,
                          { QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"),
                            QStringLiteral("server.csr"), QStringLiteral("-CA"),
                            QStringLiteral("ca.crt"), QStringLiteral("-CAkey"),
                            QStringLiteral("ca.key"), QStringLiteral("-CAcreateserial"),
                            QStringLiteral("-out"), QStringLiteral("server.crt"),
                            QStringLiteral("-days"), QStringLiteral("2"),
                            QStringLiteral("-extfile"), QStringLiteral("server.ext") });
    if (!made)
        return;
    authority = QSslCertificate(fileContent(dir + QStringLiteral("/ca.crt")));
    server = QSslCertificate(fileContent(dir + QStringLiteral("/server.crt")));
    serverKey = QSslKey(fileContent(dir + QStringLiteral("/server.key")), QSsl::Ec);
}

HttpsServer::HttpsServer(const TestCertificates &certificates)
{
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setLocalCertificate(certificates.server);
    configuration.setPrivateKey(certificates.serverKey);
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
    m_server.setSslConfiguration(configuration);
    connect(&m_server, &QSslServer::pendingConnectionAvailable, this, &HttpsServer::accept);
}

bool HttpsServer::listen()
{
    return m_server.listen(QHostAddress::LocalHost);
}

QString HttpsServer::url(const QString &path) const
{
    return QStringLiteral("https://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(path);
}

void HttpsServer::setReply(int status, const QByteArray &reason, const QByteArray &body)
{
    m_status = status;
    m_reason = reason;
    m_body = body;
}

void HttpsServer::accept()
{
    while (m_server.hasPendingConnections()) {
        auto *socket = qobject_cast<QSslSocket *>(m_server.nextPendingConnection());
        if (!socket)
            continue;
        m_pending.insert(socket, Pending());
        connect(socket, &QSslSocket::readyRead, this, [this, socket] { read(socket); });
        connect(socket, &QSslSocket::disconnected, this, [this, socket] {
            m_pending.remove(socket);
            socket->deleteLater();
        });
        read(socket);
    }
}

void HttpsServer::read(QSslSocket *socket)
{
    auto found = m_pending.find(socket);
    if (found == m_pending.end())
        return;
    Pending &pending = found.value();
    if (pending.expected < 0) {
        pending.head += socket->readAll();
        const qsizetype end = pending.head.indexOf("\r\n\r\n");
        if (end < 0)
            return;
        const QByteArray rest = pending.head.mid(end + 4);
        const QList<QByteArray> lines = pending.head.left(end).split('\n');
        const QList<QByteArray> requestLine = lines.first().trimmed().split(' ');
        pending.request.method = requestLine.value(0);
        pending.request.path = requestLine.value(1);
        pending.expected = 0;
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const qsizetype colon = lines.at(i).indexOf(':');
            const QByteArray name = lines.at(i).left(colon).trimmed();
            const QByteArray value = lines.at(i).mid(colon + 1).trimmed();
            pending.request.headers.append({ name, value });
            if (name.compare("Content-Length", Qt::CaseInsensitive) == 0)
                pending.expected = value.toLongLong();
        }
        pending.head.clear();
        pending.request.bodySize = rest.size();
        if (m_keepBodies)
            pending.request.body = rest;
    } else {
        const QByteArray chunk = socket->readAll();
        pending.request.bodySize += chunk.size();
        if (m_keepBodies)
            pending.request.body += chunk;
    }
    if (pending.request.bodySize >= pending.expected)
        answer(socket);
}

void HttpsServer::answer(QSslSocket *socket)
{
    requests.append(m_pending.take(socket).request);
    QByteArray response = "HTTP/1.1 " + QByteArray::number(m_status) + ' ' + m_reason + "\r\n";
    response += "Content-Type: application/json\r\nConnection: close\r\n";
    response += "Content-Length: " + QByteArray::number(m_body.size()) + "\r\n\r\n" + m_body;
    socket->write(response);
    socket->disconnectFromHost();
}

bool decodeForm(const QByteArray &body, QList<QPair<QByteArray, QByteArray>> *items)
{
    const auto decode = [](const QByteArray &text, QByteArray *out) {
        out->clear();
        for (qsizetype i = 0; i < text.size(); ++i) {
            const char c = text.at(i);
            if (c == '+') {
                out->append(' ');
            } else if (c == '%') {
                if (i + 2 >= text.size() || !isxdigit(uchar(text.at(i + 1)))
                    || !isxdigit(uchar(text.at(i + 2))))
                    return false;
                out->append(char(text.mid(i + 1, 2).toInt(nullptr, 16)));
                i += 2;
            } else {
                out->append(c);
            }
        }
        return true;
    };
    items->clear();
    if (body.isEmpty())
        return true;
    for (const QByteArray &item : body.split('&')) {
        const qsizetype equals = item.indexOf('=');
        if (equals < 0)
            return false;
        QByteArray key;
        QByteArray value;
        if (!decode(item.left(equals), &key) || !decode(item.mid(equals + 1), &value))
            return false;
        items->append({ key, value });
    }
    return true;
}
