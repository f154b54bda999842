// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef FORMBODY_H
#define FORMBODY_H

#include "portal/jobfileimporter.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfoList>
#include <QIODevice>

// The upload's application/x-www-form-urlencoded body: the identity, then for each file its name
// and its content in Base64, every value encoded so that any standard decoder recovers it.
// It is produced piece by piece from the files while it is read, and its length is known first.
class FormBody : public QIODevice
{
public:
    struct File
    {
        QString path;
        qint64 size = 0;
    };
    // What the body holds and how long it is, from a first pass over every file.
    struct Plan
    {
        QByteArray head;
        QList<File> files;
        qint64 length = 0;
        // Names the file that cannot be read; the body is then not sent.
        QString error;
    };

    // The files of a job folder that the portal takes, in the order the folder lists them.
    static QFileInfoList uploadFiles(const QString &folder);
    // Whether a file of this name is one that an upload takes.
    static bool takes(const QString &fileName);
    // Reads every file once: slow for large folders, so not for the window's thread.
    static Plan plan(const PortalIdentity &identity, const QFileInfoList &files);

    explicit FormBody(const Plan &plan, QObject *parent = nullptr);

    qint64 size() const override { return m_plan.length; }
    // Going back starts the body again: it is made anew, never kept.
    bool seek(qint64 position) override;

protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    bool refill();

    Plan m_plan;
    // The next file to start; the head comes first.
    int m_next = -1;
    QFile m_file;
    qint64 m_left = 0;
    QByteArray m_buffer;
    qsizetype m_position = 0;
    qint64 m_produced = 0;
};

#endif
