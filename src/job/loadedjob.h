// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef LOADEDJOB_H
#define LOADEDJOB_H

#include "job/portalidentity.h"

#include <QString>

#include <memory>

class QTemporaryDir;

// The deck the window works on, with the portal job it came from and that job's folder, which
// the launcher made and removes unless the user keeps it.
class LoadedJob
{
public:
    LoadedJob();
    // A deck of the user's own, run in its folder.
    explicit LoadedJob(const QString &deck);
    // A portal job, unpacked into a folder of its own.
    LoadedJob(const QString &deck, const PortalIdentity &identity,
              std::unique_ptr<QTemporaryDir> folder);
    // A portal job whose folder the user kept, or one that is still on disk.
    LoadedJob(const QString &deck, const PortalIdentity &identity);
    ~LoadedJob();
    LoadedJob(LoadedJob &&) noexcept;
    LoadedJob &operator=(LoadedJob &&) noexcept;

    QString deck() const { return m_deck; }
    QString workDir() const { return m_work_dir; }
    const PortalIdentity &identity() const { return m_identity; }
    bool isPortalJob() const { return m_identity.isPortalJob(); }

    // A job ran in the folder: it now holds results that are not on the portal.
    void ran();
    // The folder's results are on the portal.
    void uploaded() { m_settled = true; }
    // Whether going to another job must ask first: it would remove unsent results.
    bool releaseMustAsk() const;
    // The name the kept folder is offered under: the portal's job number where there is one.
    QString keptName() const;
    // The folder was moved away by the user, and is theirs now.
    void kept(const QString &folder);

private:
    QString m_deck;
    QString m_work_dir;
    PortalIdentity m_identity;
    std::unique_ptr<QTemporaryDir> m_folder;
    bool m_settled = true;
};

#endif
