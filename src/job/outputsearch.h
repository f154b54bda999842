// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef OUTPUTSEARCH_H
#define OUTPUTSEARCH_H

#include <QByteArray>
#include <QString>

#include <atomic>
#include <functional>

// Finds text in a file of any size, block by block, meant for a thread of its own.
namespace OutputSearch {

struct Request
{
    QString path;
    QString text;
    bool matchCase = false;
    bool backward = false;
    // Searched: bytes [from, to); forward the first match, backward the last.
    qint64 from = 0;
    qint64 to = 0;
};

// The offset of the match, or -1; -1 too once cancel is set. Progress is told in bytes searched.
qint64 find(const Request &request, const std::atomic_bool &cancel,
            const std::function<void(qint64)> &progress = {});

}

#endif
