#include "mainwindow/mainwindow.h"

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslConfiguration>

#include <cstring>

namespace {

const QString PortalHost = QStringLiteral("farbo.quillmoor.org");

// Tries in all when the portal's host cannot be found.
constexpr int UploadAttempts = 3;
constexpr char AttemptProperty[] = "uploadAttempt";

const QStringList UploadSuffixes
        = { QStringLiteral("d12"), QStringLiteral("d3"),  QStringLiteral("9"),
            QStringLiteral("34"),  QStringLiteral("25"),  QStringLiteral("DAT"),
            QStringLiteral("CP"),  QStringLiteral("out"), QStringLiteral("outp") };

// Form encoding from which any standard decoder gets every byte back: "+" in particular
// must not arrive bare, or it reads as a space and spoils the Base64 of a file.
void appendEncoded(QByteArray &body, const QByteArray &value)
{
    static const char hex[] = "0123456789ABCDEF";
    for (const char c : value) {
        const auto byte = uchar(c);
        const bool keep = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z')
                || (byte >= '0' && byte <= '9') || byte >= 0x80
                || (byte != 0 && std::strchr("-._~/[] ", byte) != nullptr);
        if (keep) {
            body.append(c);
        } else {
            body.append('%');
            body.append(hex[byte >> 4]);
            body.append(hex[byte & 0xF]);
        }
    }
}

void startItem(QByteArray &body, const char *key)
{
    if (!body.isEmpty())
        body.append('&');
    body.append(key);
    body.append('=');
}

void appendItem(QByteArray &body, const char *key, const QByteArray &value)
{
    startItem(body, key);
    appendEncoded(body, value);
}

// Appends the Base64 text of the bytes already form-encoded ("+" as "%2B", the padding as
// "%3D") in one pass: this runs over every byte of every file sent.
void appendBase64(QByteArray &body, const QByteArray &bytes)
{
    static const char alphabet[]
            = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const qsizetype start = body.size();
    body.resize(start + (bytes.size() + 2) / 3 * 12);
    char *out = body.data() + start;
    const auto put = [&out](quint32 sextet) {
        const char c = alphabet[sextet & 63];
        if (c == '+') {
            *out++ = '%';
            *out++ = '2';
            *out++ = 'B';
        } else {
            *out++ = c;
        }
    };
    const auto pad = [&out] {
        *out++ = '%';
        *out++ = '3';
        *out++ = 'D';
    };
    const auto *in = reinterpret_cast<const uchar *>(bytes.constData());
    const qsizetype whole = bytes.size() / 3 * 3;
    for (qsizetype i = 0; i < whole; i += 3) {
        const quint32 group = quint32(in[i]) << 16 | quint32(in[i + 1]) << 8 | in[i + 2];
        put(group >> 18);
        put(group >> 12);
        put(group >> 6);
        put(group);
    }
    const qsizetype rest = bytes.size() - whole;
    if (rest > 0) {
        const quint32 group
                = quint32(in[whole]) << 16 | (rest == 2 ? quint32(in[whole + 1]) << 8 : 0);
        put(group >> 18);
        put(group >> 12);
        if (rest == 2)
            put(group >> 6);
        else
            pad();
        pad();
    }
    body.truncate(out - body.constData());
}

// Encodes the file piece by piece, so that neither the whole file nor its whole Base64 text
// is held beside the body.
void appendContent(QByteArray &body, QFile &file)
{
    constexpr qint64 ChunkSize = 3 * 1024 * 1024; // a multiple of 3: no padding in between
    startItem(body, "files[]");
    QByteArray chunk;
    while (!(chunk = file.read(ChunkSize)).isEmpty())
        appendBase64(body, chunk);
}

qsizetype expectedBodySize(const QFileInfoList &files)
{
    qsizetype size = 256;
    for (const QFileInfo &file : files) {
        // Base64 grows the bytes by a third; an encoded "+" takes three characters.
        size += 2 * file.fileName().size() + 32 + file.size() * 4 / 3 + file.size() / 16;
    }
    return size;
}

}

const QUrl MainWindow::defaultUploadUrl(QStringLiteral("https://") + PortalHost
                                                + QStringLiteral("/compute/upload/"),
                                        QUrl::TolerantMode);

void MainWindow::setUploadUrl(const QUrl &l_url)
{
    m_upload_url = l_url;
}

void MainWindow::uploadOutput()
{
    startUpload(1);
}

void MainWindow::startUpload(int l_attempt)
{
    auto *manager = new QNetworkAccessManager(this);
    QNetworkRequest request(m_upload_url);
    request.setSslConfiguration(QSslConfiguration::defaultConfiguration());
    request.setRawHeader("Referer", m_upload_url.toString().toUtf8());
    request.setRawHeader("Content-Type", "application/x-www-form-urlencoded");
    request.setRawHeader("Accept", "text/plain");

    QFileInfoList files;
    QDirIterator entries(m_work_dir);
    while (entries.hasNext()) {
        const QFileInfo entry = entries.nextFileInfo();
        if (!entry.isDir() && UploadSuffixes.contains(entry.completeSuffix()))
            files.append(entry);
    }

    QByteArray body;
    body.reserve(expectedBodySize(files));
    appendItem(body, "user_id", QByteArray::number(m_user_id));
    appendItem(body, "user_token", m_user_token.toUtf8());
    appendItem(body, "job_id", QByteArray::number(m_job_id));
    for (const QFileInfo &entry : std::as_const(files)) {
        appendItem(body, "files[]", entry.fileName().toUtf8());
        QFile file(entry.filePath());
        if (file.open(QIODevice::ReadOnly))
            appendContent(body, file);
    }

    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    QNetworkReply *reply = manager->post(request, body);
    reply->setProperty(AttemptProperty, l_attempt);
    connect(reply, &QNetworkReply::finished, this, &MainWindow::uploadOutputReply);
}

void MainWindow::uploadOutputReply()
{
    auto *reply = qobject_cast<QNetworkReply *>(sender());
    QGuiApplication::restoreOverrideCursor();
    if (!reply) {
        critical(QStringLiteral("No reply from Farbo server"));
        return;
    }
    reply->deleteLater();
    reply->manager()->deleteLater();

    const QNetworkReply::NetworkError error = reply->error();
    if (error == QNetworkReply::HostNotFoundError) {
        const int attempt = reply->property(AttemptProperty).toInt();
        if (attempt < UploadAttempts) {
            startUpload(attempt + 1);
            return;
        }
        critical(QStringLiteral("The Farbo server could not be found after %1 tries. Please "
                                "check the network connection and upload again.")
                         .arg(UploadAttempts));
        return;
    }
    if (error != QNetworkReply::NoError) {
        critical(QStringLiteral("Error uploading files to Farbo server (%1)").arg(int(error)));
        return;
    }
    if (reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() != 200) {
        critical(QStringLiteral("Wrong response from Farbo server"));
        return;
    }
    const QString result = QJsonDocument::fromJson(reply->readAll())
                                   .object()
                                   .value(QLatin1String("result"))
                                   .toString();
    if (result == QLatin1String("OK")) {
        QMessageBox::information(this, windowTitle(),
                                 QStringLiteral("Successfully uploaded job files to Farbo server"));
        return;
    }
    critical(QStringLiteral("Error from Farbo server: ") + result);
}
