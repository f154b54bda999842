// SPDX-License-Identifier: GPL-3.0-or-later
#include "job/outputfollower.h"

#include <QFile>
#include <QFileInfo>
#include <QLocale>

#include <algorithm>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace {
// Bytes before the read position that are compared again on every look, so that a file
// rewritten in place to at least its old size is still noticed.
constexpr qint64 TailSize = 64;

void dropCarriageReturns(QByteArray &bytes)
{
    bytes.truncate(std::remove(bytes.begin(), bytes.end(), '\r') - bytes.begin());
}
}

void OutputFollower::reset()
{
    m_following = false;
}

OutputFollower::Identity OutputFollower::identify(int handle)
{
    Identity identity;
#ifdef Q_OS_UNIX
    struct stat status;
    if (::fstat(handle, &status) == 0) {
        identity.device = quint64(status.st_dev);
        identity.inode = quint64(status.st_ino);
    }
#else
    Q_UNUSED(handle);
#endif
    return identity;
}

int OutputFollower::incompleteTail(const QByteArray &bytes)
{
    const int size = int(std::min<qsizetype>(bytes.size(), 3));
    for (int back = 1; back <= size; ++back) {
        const auto byte = uchar(bytes.at(bytes.size() - back));
        if ((byte & 0xC0) == 0x80)
            continue;
        const int length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
        return length > back ? back : 0;
    }
    return 0;
}

OutputFollower::Update OutputFollower::poll(const QString &fileName)
{
    Update update;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return update;
    update.opened = true;

    const Identity identity = identify(file.handle());
    bool fresh = !m_following || fileName != m_file_name || identity != m_identity
            || file.size() < m_offset;
    if (!fresh && !m_tail.isEmpty()) {
        file.seek(m_offset - m_tail.size());
        fresh = file.read(m_tail.size()) != m_tail;
    }
    if (fresh) {
        m_following = true;
        m_file_name = fileName;
        m_identity = identity;
        m_offset = 0;
        m_tail.clear();
        m_pending.clear();
        m_provisional = 0;
        file.seek(0);
    } else if (file.size() == m_offset) {
        return update;
    }

    const QByteArray bytes = file.readAll();
    m_offset += bytes.size();
    m_tail = (m_tail + bytes.right(TailSize)).right(TailSize);

    // Carriage returns go first, as in a text-mode read: a CR inside a UTF-8 sequence does
    // not break it.
    QByteArray complete = m_pending + bytes;
    dropCarriageReturns(complete);
    const int held = incompleteTail(complete);
    m_pending = complete.right(held);
    complete.chop(held);

    // An incomplete sequence at the end is shown as the whole-file decode shows it, and taken
    // back at the next look if the rest of it has arrived.
    const QString provisional = QString::fromUtf8(m_pending);
    update.change = fresh ? Change::Replace : Change::Append;
    update.dropTrailing = fresh ? 0 : m_provisional;
    update.text = QString::fromUtf8(complete) + provisional;
    m_provisional = int(provisional.size());
    return update;
}

OutputFollower::Update OutputFollower::endOf(const QString &fileName, qint64 limit)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const qint64 skipped = qMax<qint64>(0, file.size() - limit);
    file.seek(skipped);
    QByteArray bytes = file.readAll();
    QString text;
    if (skipped > 0) {
        bytes.remove(0, bytes.indexOf('\n') + 1);
        text = QStringLiteral("[The first %1 of %2 are not shown.]\n")
                       .arg(QLocale().formattedDataSize(file.size() - bytes.size(), 1,
                                                        QLocale::DataSizeSIFormat),
                            QFileInfo(fileName).fileName());
    }
    text += QString::fromUtf8(bytes.replace('\r', QByteArray()));
    return { true, Change::Replace, 0, text };
}
