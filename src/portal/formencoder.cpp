#include "portal/formencoder.h"

#include <QDirIterator>
#include <QFile>

#include <cstring>

namespace {

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

namespace FormEncoder {

QFileInfoList uploadFiles(const QString &folder)
{
    QFileInfoList files;
    QDirIterator entries(folder);
    while (entries.hasNext()) {
        const QFileInfo entry = entries.nextFileInfo();
        if (!entry.isDir() && UploadSuffixes.contains(entry.completeSuffix()))
            files.append(entry);
    }
    return files;
}

QByteArray encode(const PortalIdentity &identity, const QFileInfoList &files)
{
    QByteArray body;
    body.reserve(expectedBodySize(files));
    appendItem(body, "user_id", QByteArray::number(identity.userId));
    appendItem(body, "user_token", identity.userToken.toUtf8());
    appendItem(body, "job_id", QByteArray::number(identity.jobId));
    for (const QFileInfo &entry : files) {
        appendItem(body, "files[]", entry.fileName().toUtf8());
        QFile file(entry.filePath());
        if (file.open(QIODevice::ReadOnly))
            appendContent(body, file);
    }
    return body;
}

}
