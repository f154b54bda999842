// SPDX-License-Identifier: GPL-3.0-or-later
#include "portal/formbody.h"

#include "job/programcatalog.h"

#include <QDirIterator>
#include <QFile>

#include <cstring>

namespace {

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

// A multiple of 3, so that no padding falls between pieces of one file.
constexpr qint64 PieceSize = 3 * 64 * 1024;

// Length of the encoded Base64 text of these bytes: "+" and "=" take three characters each.
qint64 encodedLength(const QByteArray &bytes, bool last)
{
    const auto *in = reinterpret_cast<const uchar *>(bytes.constData());
    const qsizetype whole = bytes.size() / 3 * 3;
    qint64 plus = 0;
    for (qsizetype i = 0; i < whole; i += 3) {
        const quint32 group = quint32(in[i]) << 16 | quint32(in[i + 1]) << 8 | in[i + 2];
        plus += ((group >> 18) & 63) == 62;
        plus += ((group >> 12) & 63) == 62;
        plus += ((group >> 6) & 63) == 62;
        plus += (group & 63) == 62;
    }
    qint64 length = whole / 3 * 4 + 2 * plus;
    if (last && bytes.size() > whole) {
        QByteArray tail;
        appendBase64(tail, bytes.mid(whole));
        length += tail.size();
    }
    return length;
}

}

bool FormBody::takes(const QString &fileName)
{
    return ProgramCatalog::isJobFile(fileName);
}

QFileInfoList FormBody::uploadFiles(const QString &folder)
{
    QFileInfoList files;
    QDirIterator entries(folder);
    while (entries.hasNext()) {
        const QFileInfo entry = entries.nextFileInfo();
        if (!entry.isDir() && takes(entry.fileName()))
            files.append(entry);
    }
    return files;
}

FormBody::Plan FormBody::plan(const PortalIdentity &identity, const QFileInfoList &files)
{
    Plan plan;
    appendItem(plan.head, "user_id", QByteArray::number(identity.userId));
    appendItem(plan.head, "user_token", identity.userToken.toUtf8());
    appendItem(plan.head, "job_id", QByteArray::number(identity.jobId));
    plan.length = plan.head.size();
    for (const QFileInfo &entry : files) {
        QFile file(entry.filePath());
        const QString unreadable = QStringLiteral("Unable to read %1, so nothing was uploaded.")
                                           .arg(entry.filePath());
        if (!file.open(QIODevice::ReadOnly)) {
            plan.error = unreadable;
            return plan;
        }
        QByteArray items;
        appendItem(items, "files[]", entry.fileName().toUtf8());
        startItem(items, "files[]");
        plan.length += items.size() + 1;
        qint64 size = 0;
        QByteArray piece;
        while (!(piece = file.read(PieceSize)).isEmpty()) {
            size += piece.size();
            plan.length += encodedLength(piece, piece.size() < PieceSize);
        }
        if (file.error() != QFileDevice::NoError) {
            plan.error = unreadable;
            return plan;
        }
        plan.files.append({ entry.filePath(), size });
    }
    return plan;
}

FormBody::FormBody(const Plan &plan, QObject *parent)
    : QIODevice(parent)
    , m_plan(plan)
{ }

bool FormBody::seek(qint64 position)
{
    if (position < m_produced) {
        m_next = -1;
        m_left = 0;
        m_file.close();
        m_buffer.clear();
        m_position = 0;
        m_produced = 0;
    }
    char skipped[16 * 1024];
    while (m_produced < position) {
        if (readData(skipped, qMin<qint64>(sizeof skipped, position - m_produced)) <= 0)
            return false;
    }
    return QIODevice::seek(position);
}

bool FormBody::refill()
{
    m_buffer.clear();
    m_position = 0;
    if (m_left > 0) {
        const QByteArray piece = m_file.read(qMin(m_left, PieceSize));
        if (piece.isEmpty()) {
            setErrorString(
                    QStringLiteral("%1 changed while it was uploaded").arg(m_file.fileName()));
            return false;
        }
        m_left -= piece.size();
        appendBase64(m_buffer, piece);
        return true;
    }
    m_file.close();
    if (m_next == -1) {
        m_buffer = m_plan.head;
    } else if (m_next < m_plan.files.size()) {
        const File &file = m_plan.files.at(m_next);
        m_file.setFileName(file.path);
        if (!m_file.open(QIODevice::ReadOnly)) {
            setErrorString(QStringLiteral("Unable to read %1").arg(file.path));
            return false;
        }
        m_left = file.size;
        m_buffer = "&files[]=";
        appendEncoded(m_buffer, QFileInfo(file.path).fileName().toUtf8());
        m_buffer += "&files[]=";
    } else {
        return false;
    }
    ++m_next;
    return true;
}

qint64 FormBody::readData(char *data, qint64 maxSize)
{
    qint64 copied = 0;
    while (copied < maxSize) {
        if (m_position == m_buffer.size() && !refill())
            break;
        const qint64 count = qMin<qint64>(maxSize - copied, m_buffer.size() - m_position);
        memcpy(data + copied, m_buffer.constData() + m_position, size_t(count));
        m_position += count;
        copied += count;
    }
    m_produced += copied;
    // A body that came out longer or shorter than announced would be taken for another.
    if (m_produced > m_plan.length || (copied == 0 && m_produced != m_plan.length)) {
        if (errorString().isEmpty() || errorString() == QLatin1String("Unknown error"))
            setErrorString(QStringLiteral("The job folder changed while it was uploaded"));
        return -1;
    }
    return copied == 0 ? -1 : copied;
}
