// SPDX-License-Identifier: GPL-3.0-or-later
#include "job/outputsearch.h"

#include <QFile>

namespace {

constexpr qint64 Block = 4 * 1024 * 1024;

// Letters of ASCII are matched in either case; other characters as they are.
QByteArray folded(QByteArray bytes, bool matchCase)
{
    return matchCase ? bytes : bytes.toLower();
}

}

namespace OutputSearch {

qint64 find(const Request &request, const std::atomic_bool &cancel,
            const std::function<void(qint64)> &progress)
{
    const QByteArray needle = folded(request.text.toUtf8(), request.matchCase);
    QFile file(request.path);
    if (needle.isEmpty() || !file.open(QIODevice::ReadOnly))
        return -1;
    const qint64 to = qMin(request.to, file.size());
    // Blocks overlap by the needle's length less one, so that no match falls between them.
    const qint64 overlap = needle.size() - 1;
    qint64 searched = 0;
    if (!request.backward) {
        for (qint64 at = request.from; at + needle.size() <= to && !cancel; at += Block) {
            if (!file.seek(at))
                return -1;
            const QByteArray block
                    = folded(file.read(qMin(Block + overlap, to - at)), request.matchCase);
            if (const qsizetype found = block.indexOf(needle); found >= 0)
                return at + found;
            if (progress)
                progress(searched += Block);
        }
        return -1;
    }
    for (qint64 end = to; end - needle.size() >= request.from && !cancel; end -= Block) {
        const qint64 at = qMax(request.from, end - Block - overlap);
        if (!file.seek(at))
            return -1;
        const QByteArray block = folded(file.read(end - at), request.matchCase);
        if (const qsizetype found = block.lastIndexOf(needle); found >= 0)
            return at + found;
        if (progress)
            progress(searched += Block);
    }
    return -1;
}

}
