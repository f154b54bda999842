// SPDX-License-Identifier: GPL-3.0-or-later
#include "mainwindow/runon.h"

#include "cluster/clusterbackend.h"
#include "job/jobmanager.h"
#include "settings/settingskeys.h"

#include <QComboBox>
#include <QSettings>

namespace {

bool sameProfile(const ClusterProfile &a, const ClusterProfile &b)
{
    return a.name == b.name && a.host == b.host && a.sshOptions == b.sshOptions
            && a.remoteDir == b.remoteDir && a.packageDir == b.packageDir
            && a.launcher == b.launcher && a.partition == b.partition && a.account == b.account
            && a.timeLimit == b.timeLimit && a.setup == b.setup && a.pollSeconds == b.pollSeconds
            && a.maxSubmitted == b.maxSubmitted;
}

}

RunOn::RunOn(QComboBox *combo, JobManager *jobs, QSettings *settings, QObject *parent)
    : QObject(parent)
    , m_combo(combo)
    , m_jobs(jobs)
    , m_settings(settings)
{
    apply();
    setWhere(SettingsKeys::stringValue(*m_settings, SettingsKeys::LastRunOn));
}

QString RunOn::where() const
{
    return m_combo->currentIndex() <= 0 ? Jobs::thisComputer() : m_combo->currentText();
}

void RunOn::setWhere(const QString &where)
{
    const int index = where == Jobs::thisComputer() ? 0 : m_combo->findText(where);
    m_combo->setCurrentIndex(qMax(0, index));
}

PackageConfig RunOn::packageConfig(const PackageConfig &local) const
{
    return packageConfig(local, where());
}

PackageConfig RunOn::packageConfig(const PackageConfig &local, const QString &where) const
{
    for (const ClusterProfile &profile : m_profiles) {
        if (profile.name == where)
            return profile.packageConfig(local);
    }
    return local;
}

void RunOn::apply()
{
    m_jobs->setLimits(Jobs::thisComputer(), SettingsKeys::localLimits(*m_settings));
    const QList<ClusterProfile> profiles = SettingsKeys::clusterProfiles(*m_settings);
    const SshConfig ssh = SettingsKeys::sshConfig();
    for (const ClusterProfile &old : std::as_const(m_profiles)) {
        const bool kept
                = std::any_of(profiles.cbegin(), profiles.cend(),
                              [&old](const ClusterProfile &p) { return p.name == old.name; });
        if (!kept)
            m_jobs->setBackend(old.name, nullptr);
    }
    for (const ClusterProfile &profile : profiles) {
        const bool unchanged = std::any_of(
                m_profiles.cbegin(), m_profiles.cend(),
                [&profile](const ClusterProfile &p) { return sameProfile(p, profile); });
        if (unchanged)
            continue;
        JobQueue::Limits limits;
        limits.jobs = profile.maxSubmitted;
        m_jobs->setLimits(profile.name, limits);
        m_jobs->setBackend(profile.name, new ClusterBackend(profile, ssh));
    }
    m_profiles = profiles;

    const QString chosen = where();
    m_combo->clear();
    m_combo->addItem(tr("This computer"));
    for (const ClusterProfile &profile : profiles)
        m_combo->addItem(profile.name);
    setWhere(chosen);
}
