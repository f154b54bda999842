// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef HTTPSSERVER_H
#define HTTPSSERVER_H

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QSslServer>

class QSslSocket;

using FormItems = QList<QPair<QByteArray, QByteArray>>;

// Makes the committed test certificate authority trusted, as the portal's would be.
void trustTestAuthority();

// Answers HTTPS requests on 127.0.0.1 with one configured reply and keeps what it received.
class HttpsServer : public QObject
{
    Q_OBJECT

public:
    struct Request
    {
        QByteArray path;
        QHash<QByteArray, QByteArray> headers;
        QByteArray body;
        qint64 bodySize = 0;
    };

    HttpsServer();
    QString url() const;
    void setReply(int status, const QByteArray &body);
    // Counts the body bytes but does not keep them, for very large uploads.
    bool keepBodies = true;
    // Takes requests in but never answers, as a stalled portal does.
    bool answering = true;
    QList<Request> requests;

private:
    struct Pending
    {
        QByteArray head;
        Request request;
        qint64 expected = -1;
    };
    void read(QSslSocket *socket);

    QHash<QSslSocket *, Pending> m_pending;
    int m_status = 200;
    QByteArray m_body = R"({"result":"OK"})";
    // Last: its connections, which end with it, use the members above.
    QSslServer m_server;
};

// A strict application/x-www-form-urlencoded decoder: "+" is a space, "%XX" a byte, and a
// malformed escape or an item without "=" makes it fail.
bool decodeForm(const QByteArray &body, FormItems *items);

#endif
