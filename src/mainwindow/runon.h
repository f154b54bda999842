// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef RUNON_H
#define RUNON_H

#include "cluster/clusterprofile.h"

#include <QObject>

class JobManager;
class QComboBox;
class QSettings;

// Where Start sends a job: "This computer" or a cluster of the settings, each with a backend
// in the job manager.
class RunOn : public QObject
{
    Q_OBJECT

public:
    RunOn(QComboBox *combo, JobManager *jobs, QSettings *settings, QObject *parent = nullptr);

    // Jobs::thisComputer(), or the chosen cluster's name.
    QString where() const;
    void setWhere(const QString &where);
    // The package as a job finds it where it runs: the local one, or the cluster's (the
    // chosen one's by default).
    PackageConfig packageConfig(const PackageConfig &local) const;
    PackageConfig packageConfig(const PackageConfig &local, const QString &where) const;
    // Takes in the profiles as the settings now hold them: a changed profile gets a new backend,
    // which goes on with that cluster's unfinished jobs.
    void apply();

private:
    QComboBox *m_combo;
    JobManager *m_jobs;
    QSettings *m_settings;
    QList<ClusterProfile> m_profiles;
};

#endif
