// SPDX-License-Identifier: GPL-3.0-or-later
#include "job/loadedjob.h"

#include <QFileInfo>
#include <QTemporaryDir>

LoadedJob::LoadedJob() = default;

LoadedJob::LoadedJob(const QString &deck)
    : m_deck(QFileInfo(deck).absoluteFilePath())
    // Absolute: the working directory must not depend on the launcher's own.
    , m_work_dir(QFileInfo(deck).absolutePath())
{ }

LoadedJob::LoadedJob(const QString &deck, const PortalIdentity &identity,
                     std::unique_ptr<QTemporaryDir> folder)
    : m_deck(deck)
    , m_work_dir(folder->path())
    , m_identity(identity)
    , m_folder(std::move(folder))
{ }

LoadedJob::LoadedJob(const QString &deck, const PortalIdentity &identity)
    : LoadedJob(deck)
{
    m_identity = identity;
}

LoadedJob::~LoadedJob() = default;
LoadedJob::LoadedJob(LoadedJob &&) noexcept = default;
LoadedJob &LoadedJob::operator=(LoadedJob &&) noexcept = default;

void LoadedJob::ran()
{
    if (m_folder)
        m_settled = false;
}

bool LoadedJob::releaseMustAsk() const
{
    return m_folder && !m_settled;
}

QString LoadedJob::keptName() const
{
    if (m_identity.jobId > 0)
        return QString::number(m_identity.jobId);
    return QFileInfo(m_work_dir).fileName();
}

void LoadedJob::kept(const QString &folder)
{
    m_folder->setAutoRemove(false);
    m_folder.reset();
    m_work_dir = folder;
    m_deck = folder + QLatin1Char('/') + QFileInfo(m_deck).fileName();
    m_settled = true;
}
