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

// Answers HTTPS requests on 127.0.0.1 with the portal's "OK" and keeps what it received.
class HttpsServer : public QObject
{
public:
    struct Request
    {
        QByteArray head;
        QByteArray body;
        qint64 bodySize = 0;
    };

    HttpsServer();
    QString url() const;
    // Counts the body bytes but does not keep them, for very large uploads.
    bool keepBodies = true;
    // Takes requests in but never answers, as a stalled portal does.
    bool answering = true;
    QByteArray status = "200 OK";
    // The answer's body is this, so many times over, written as the connection takes it.
    QByteArray answer = R"({"result":"OK"})";
    qint64 answerRepeats = 1;
    QList<Request> requests;

private:
    void read(QSslSocket *socket);

    QHash<QSslSocket *, Request> m_pending;
    // Last: its connections, which end with it, use the members above.
    QSslServer m_server;
};

// Splits an application/x-www-form-urlencoded body and undoes its "%XX" escapes. A "+" stays
// as it is, and an item that is not one key=value pair gets the value "malformed".
FormItems decodeForm(const QByteArray &body);

#endif
