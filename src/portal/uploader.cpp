#include "portal/uploader.h"

#include "portal/formencoder.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkRequest>

Uploader::Uploader(QObject *parent)
    : QObject(parent)
    , m_manager(new QNetworkAccessManager(this))
    , m_url(portalUrl())
{ }

QUrl Uploader::portalUrl()
{
    return QUrl(QStringLiteral("https://farbo.quillmoor.org/compute/upload/"), QUrl::TolerantMode);
}

void Uploader::upload(const QString &folder, const PortalIdentity &identity)
{
    post(folder, identity, 1);
}

void Uploader::post(const QString &folder, const PortalIdentity &identity, int attempt)
{
    QNetworkRequest request(m_url);
    request.setRawHeader("Referer", m_url.toString().toUtf8());
    request.setRawHeader("Content-Type", "application/x-www-form-urlencoded");
    request.setRawHeader("Accept", "text/plain");
    const QByteArray body = FormEncoder::encode(identity, FormEncoder::uploadFiles(folder));
    QNetworkReply *reply = m_manager->post(request, body);
    connect(reply, &QNetworkReply::finished, this, [this, reply, folder, identity, attempt] {
        reply->deleteLater();
        const auto outcome = interpret(
                reply->error(), reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(),
                reply->readAll(), attempt);
        if (outcome)
            Q_EMIT finished(*outcome);
        else
            post(folder, identity, attempt + 1);
    });
}

std::optional<Uploader::Outcome> Uploader::interpret(QNetworkReply::NetworkError error, int status,
                                                     const QByteArray &body, int attempt)
{
    if (error == QNetworkReply::HostNotFoundError) {
        if (attempt < Attempts)
            return std::nullopt;
        return Outcome{ false,
                        QStringLiteral("The Farbo server could not be found after %1 tries. "
                                       "Please check the network connection and upload again.")
                                .arg(Attempts) };
    }
    if (error != QNetworkReply::NoError)
        return Outcome{
            false, QStringLiteral("Error uploading files to Farbo server (%1)").arg(int(error))
        };
    if (status != 200)
        return Outcome{ false, QStringLiteral("Wrong response from Farbo server") };
    const QString result
            = QJsonDocument::fromJson(body).object().value(QLatin1String("result")).toString();
    if (result == QLatin1String("OK"))
        return Outcome{ true, QStringLiteral("Successfully uploaded job files to Farbo server") };
    return Outcome{ false, QStringLiteral("Error from Farbo server: ") + result };
}
