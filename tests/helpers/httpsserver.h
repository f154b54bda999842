#ifndef HTTPSSERVER_H
#define HTTPSSERVER_H

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslServer>
#include <QTemporaryDir>

class QSslSocket;

// A certificate authority and a server certificate for 127.0.0.1, made with openssl.
class TestCertificates
{
public:
    TestCertificates();
    bool isValid() const { return !authority.isNull() && !serverKey.isNull(); }

    QSslCertificate authority;
    QSslCertificate server;
    QSslKey serverKey;

private:
    QTemporaryDir m_dir;
};

// Answers HTTPS requests on 127.0.0.1 with one configured reply and keeps what it received.
class HttpsServer : public QObject
{
    Q_OBJECT

public:
    struct Request
    {
        QByteArray method;
        QByteArray path;
        QList<QPair<QByteArray, QByteArray>> headers;
        QByteArray body;
        qint64 bodySize = 0;
    };

    explicit HttpsServer(const TestCertificates &certificates);
    bool listen();
    QString url(const QString &path) const;
    void setReply(int status, const QByteArray &reason, const QByteArray &body);
    // Counts the body bytes but does not keep them, for very large uploads.
    void setKeepBodies(bool keep) { m_keepBodies = keep; }

    QList<Request> requests;

private:
    struct Pending
    {
        QByteArray head;
        Request request;
        qint64 expected = -1;
    };
    void accept();
    void read(QSslSocket *socket);
    void answer(QSslSocket *socket);

    QSslServer m_server;
    QHash<QSslSocket *, Pending> m_pending;
    int m_status = 200;
    QByteArray m_reason = "OK";
    QByteArray m_body = R"({"result":"OK"})";
    bool m_keepBodies = true;
};

// A strict application/x-www-form-urlencoded decoder: "+" is a space, "%XX" a byte, and a
// malformed escape or an item without "=" makes it fail.
bool decodeForm(const QByteArray &body, QList<QPair<QByteArray, QByteArray>> *items);

#endif
