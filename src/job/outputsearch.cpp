// SPDX-License-Identifier: GPL-3.0-or-later
#include "job/outputsearch.h"

#include <QFile>

#include <algorithm>
#include <cstring>

namespace {

constexpr qint64 Block = 4 * 1024 * 1024;

// Letters of ASCII are matched in either case; other characters as they are.
QByteArray folded(QByteArray bytes, bool matchCase)
{
    return matchCase ? bytes : bytes.toLower();
}

bool isAscii(const QByteArray &bytes)
{
    return std::all_of(bytes.cbegin(), bytes.cend(), [](char c) { return uchar(c) < 0x80; });
}

char upper(char c)
{
    return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c;
}

char lower(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

// Where an ASCII needle is in the bytes in any case: each place where its first letter stands,
// in either case, found as memchr finds bytes, is compared on.
qsizetype foldedIndex(const QByteArray &bytes, const QByteArray &needle, bool last)
{
    const char *data = bytes.constData();
    const qsizetype size = bytes.size() - needle.size() + 1;
    if (size <= 0)
        return -1;
    const auto matches = [&](qsizetype at) {
        for (qsizetype i = 1; i < needle.size(); ++i) {
            if (lower(data[at + i]) != needle.at(i))
                return false;
        }
        return true;
    };
    const char cases[2] = { needle.at(0), upper(needle.at(0)) };
    const int kinds = cases[0] == cases[1] ? 1 : 2;
    const char *next[2] = { nullptr, nullptr };
    const auto seek = [&](int kind, qsizetype from, qsizetype to) {
        next[kind] = static_cast<const char *>(
                last ? memrchr(data + from, cases[kind], size_t(to - from))
                     : std::memchr(data + from, cases[kind], size_t(to - from)));
    };
    for (int kind = 0; kind < kinds; ++kind)
        seek(kind, 0, size);
    while (next[0] || next[1]) {
        int kind = !next[0] ? 1 : !next[1] ? 0 : ((next[0] < next[1]) != last ? 0 : 1);
        const qsizetype at = next[kind] - data;
        if (matches(at))
            return at;
        if (last)
            seek(kind, 0, at);
        else
            seek(kind, at + 1, size);
    }
    return -1;
}

// Where the needle is in the block, first or last; letters of ASCII in any case unless the
// case is to match.
qsizetype indexIn(const QByteArray &block, const QByteArray &needle, bool matchCase, bool last)
{
    if (!matchCase && isAscii(needle))
        return foldedIndex(block, needle, last);
    const QByteArray searched = folded(block, matchCase);
    return last ? searched.lastIndexOf(needle) : searched.indexOf(needle);
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
            const QByteArray block = file.read(qMin(Block + overlap, to - at));
            if (const qsizetype found = indexIn(block, needle, request.matchCase, false);
                found >= 0)
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
        const QByteArray block = file.read(end - at);
        if (const qsizetype found = indexIn(block, needle, request.matchCase, true); found >= 0)
            return at + found;
        if (progress)
            progress(searched += Block);
    }
    return -1;
}

}
