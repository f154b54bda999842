#ifndef UPLOADER_H
#define UPLOADER_H

#include "portal/jobfileimporter.h"

#include <QNetworkReply>
#include <QObject>
#include <QUrl>

#include <optional>

class QNetworkAccessManager;

// Sends a job folder's files to the portal and says how the portal answered.
class Uploader : public QObject
{
    Q_OBJECT

public:
    struct Outcome
    {
        bool success = false;
        QString message;
    };
    // Tries in all when the portal's host cannot be found.
    static constexpr int Attempts = 3;

    explicit Uploader(QObject *parent = nullptr);

    static QUrl portalUrl();
    void setUrl(const QUrl &url) { m_url = url; }
    void upload(const QString &folder, const PortalIdentity &identity);

    // What a reply means; no outcome (std::nullopt) means that the upload is tried again.
    static std::optional<Outcome> interpret(QNetworkReply::NetworkError error, int status,
                                            const QByteArray &body, int attempt);

Q_SIGNALS:
    void finished(const Uploader::Outcome &outcome);

private:
    void post(const QString &folder, const PortalIdentity &identity, int attempt);

    QNetworkAccessManager *m_manager;
    QUrl m_url;
};

#endif
