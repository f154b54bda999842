// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef UPLOADER_H
#define UPLOADER_H

#include "portal/formbody.h"
#include "portal/jobfileimporter.h"

#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QUrl>

#include <optional>

class QNetworkAccessManager;

// Sends a job folder's files to the portal, one upload at a time, and says how it went.
class Uploader : public QObject
{
    Q_OBJECT

public:
    struct Outcome
    {
        bool success = false;
        bool cancelled = false;
        QString message;
    };
    // Tries in all when the portal's host cannot be found.
    static constexpr int Attempts = 3;
    // Of a reply's body only this much is read: the portal's answer is a short JSON object.
    static constexpr qint64 ReplyLimit = 1024 * 1024;

    explicit Uploader(QObject *parent = nullptr);

    static QUrl portalUrl();
    void setUrl(const QUrl &url) { m_url = url; }
    // An upload that sends nothing for this long ends with a message.
    void setTransferTimeout(int ms) { m_timeout_ms = ms; }
    bool isBusy() const { return m_busy; }
    // Bytes of the body sent so far, and in all; 0 before the body is known.
    qint64 sent() const { return m_sent; }
    qint64 total() const { return m_total; }
    void upload(const QString &folder, const PortalIdentity &identity);
    void cancel();

Q_SIGNALS:
    void finished(const Uploader::Outcome &outcome);

private:
    // What a reply means; no outcome (std::nullopt) means that the upload is tried again. The
    // cause is the network layer's own words for the error.
    std::optional<Outcome> interpret(QNetworkReply::NetworkError error, const QString &cause,
                                     int status, const QByteArray &body, int attempt) const;
    void post(const FormBody::Plan &plan, int attempt);
    void finish(const Outcome &outcome);

    QNetworkAccessManager *m_manager;
    QUrl m_url;
    int m_timeout_ms = 60000;
    bool m_busy = false;
    bool m_cancelled = false;
    qint64 m_sent = 0;
    qint64 m_total = 0;
    QPointer<QNetworkReply> m_reply;
};

#endif
