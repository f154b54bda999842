// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef OUTPUTFOLLOWER_H
#define OUTPUTFOLLOWER_H

#include <QByteArray>
#include <QString>

// Follows an output file that a running program writes, so that each look at it costs what
// changed since the last look instead of the whole file. The text it hands out, put together,
// is the whole file decoded as UTF-8 with carriage returns dropped and invalid bytes shown as
// replacement characters.
class OutputFollower
{
public:
    enum class Change { None, Append, Replace };

    struct Update
    {
        bool opened = false;
        Change change = Change::None;
        // With Append: how many characters at the end of the earlier text to take away first.
        // They stood for a UTF-8 sequence that was still incomplete at the last look.
        int dropTrailing = 0;
        QString text;
    };

    Update poll(const QString &fileName);
    void reset();

    // An earlier output as a whole, or of a large one its end under a line that says how much
    // is left out: reading all of it would hold up whoever waits.
    static Update endOf(const QString &fileName, qint64 limit);

private:
    struct Identity
    {
        quint64 device = 0;
        quint64 inode = 0;
        bool operator!=(const Identity &other) const
        {
            return device != other.device || inode != other.inode;
        }
    };

    static Identity identify(int handle);
    static int incompleteTail(const QByteArray &bytes);

    QString m_file_name;
    Identity m_identity;
    bool m_following = false;
    qint64 m_offset = 0;
    QByteArray m_tail;
    QByteArray m_pending;
    int m_provisional = 0;
};

#endif
