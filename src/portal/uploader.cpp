// SPDX-License-Identifier: GPL-3.0-or-later
#include "portal/uploader.h"

#include <QFutureWatcher>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QSslError>
#include <QtConcurrent/QtConcurrentRun>

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
    if (m_busy)
        return;
    m_busy = true;
    m_cancelled = false;
    m_sent = 0;
    m_total = 0;
    // Every file is read once to know the body's length: away from the window's thread.
    auto *watcher = new QFutureWatcher<FormBody::Plan>(this);
    connect(watcher, &QFutureWatcher<FormBody::Plan>::finished, this, [this, watcher] {
        watcher->deleteLater();
        const FormBody::Plan plan = watcher->result();
        if (m_cancelled)
            finish({ false, true, QString() });
        else if (!plan.error.isEmpty())
            finish({ false, false, plan.error });
        else
            post(plan, 1);
    });
    watcher->setFuture(QtConcurrent::run([folder, identity] {
        return FormBody::plan(identity, FormBody::uploadFiles(folder));
    }));
}

void Uploader::cancel()
{
    m_cancelled = m_busy;
    if (m_reply)
        m_reply->abort();
}

void Uploader::post(const FormBody::Plan &plan, int attempt)
{
    QNetworkRequest request(m_url);
    request.setRawHeader("Referer", m_url.toString().toUtf8());
    request.setRawHeader("Content-Type", "application/x-www-form-urlencoded");
    request.setRawHeader("Accept", "text/plain");
    request.setHeader(QNetworkRequest::ContentLengthHeader, plan.length);
    request.setTransferTimeout(m_timeout_ms);
    auto *body = new FormBody(plan);
    body->open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    QNetworkReply *reply = m_manager->post(request, body);
    body->setParent(reply);
    m_reply = reply;
    connect(reply, &QNetworkReply::uploadProgress, this, [this](qint64 sent, qint64 total) {
        m_sent = sent;
        m_total = total;
    });
    // Of the answer only the first part is kept; a longer one is not worth taking in.
    reply->setReadBufferSize(ReplyLimit);
    auto answer = std::make_shared<QByteArray>();
    auto overlong = std::make_shared<bool>(false);
    const auto take = [reply, answer, overlong] {
        answer->append(reply->read(qMax<qint64>(0, ReplyLimit - answer->size())));
        if (answer->size() < ReplyLimit || reply->atEnd())
            return;
        *overlong = true;
        reply->abort();
    };
    connect(reply, &QNetworkReply::readyRead, this, take);
    auto certificateErrors = std::make_shared<QStringList>();
    connect(reply, &QNetworkReply::sslErrors, this,
            [certificateErrors](const QList<QSslError> &errors) {
                for (const QSslError &error : errors)
                    certificateErrors->append(error.errorString());
            });
    connect(reply, &QNetworkReply::finished, this,
            [this, reply, plan, attempt, answer, overlong, certificateErrors, take] {
                reply->deleteLater();
                if (reply->isOpen() && !*overlong)
                    take();
                if (*overlong) {
                    finish({ false, false,
                             QStringLiteral("The Farbo server's answer was longer than %1 KiB, so "
                                            "it was not read. The upload may have succeeded: "
                                            "check the job on the portal.")
                                     .arg(ReplyLimit / 1024) });
                    return;
                }
                QString cause = reply->errorString();
                if (!certificateErrors->isEmpty())
                    cause = QStringLiteral("The server's certificate is not trusted: ")
                            + certificateErrors->join(QStringLiteral("; "));
                const auto outcome = interpret(
                        reply->error(), cause,
                        reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), *answer,
                        attempt);
                if (outcome)
                    finish(*outcome);
                else
                    post(plan, attempt + 1);
            });
}

void Uploader::finish(const Outcome &outcome)
{
    m_busy = false;
    m_reply = nullptr;
    Q_EMIT finished(outcome);
}

std::optional<Uploader::Outcome> Uploader::interpret(QNetworkReply::NetworkError error,
                                                     const QString &cause, int status,
                                                     const QByteArray &body, int attempt) const
{
    if (m_cancelled)
        return Outcome{ false, true, QString() };
    if (error == QNetworkReply::HostNotFoundError) {
        if (attempt < Attempts)
            return std::nullopt;
        return Outcome{ false, false,
                        QStringLiteral("The Farbo server could not be found after %1 tries. "
                                       "Please check the network connection and upload again.")
                                .arg(Attempts) };
    }
    // Not cancelled by the user: the transfer timed out.
    if (error == QNetworkReply::OperationCanceledError)
        return Outcome{ false, false,
                        QStringLiteral("The Farbo server did not answer for %1 seconds, so the "
                                       "upload was given up. Please upload again later.")
                                .arg(m_timeout_ms / 1000) };
    if (error != QNetworkReply::NoError)
        return Outcome{ false, false,
                        // The toolkit's error number, as the message always had it, and its cause.
                        QStringLiteral("Error uploading files to Farbo server (%1): %2")
                                .arg(int(error))
                                .arg(cause) };
    if (status != 200)
        return Outcome{ false, false, QStringLiteral("Wrong response from Farbo server") };
    const QString result
            = QJsonDocument::fromJson(body).object().value(QLatin1String("result")).toString();
    if (result == QLatin1String("OK"))
        return Outcome{ true, false,
                        QStringLiteral("Successfully uploaded job files to Farbo server") };
    return Outcome{ false, false, QStringLiteral("Error from Farbo server: ") + result };
}
