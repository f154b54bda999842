// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef CLUSTERPROBE_H
#define CLUSTERPROBE_H

#include "cluster/clusterprofile.h"
#include "cluster/sshclient.h"

#include <QElapsedTimer>
#include <QObject>

// "Test connection": logs in as jobs would, checks Slurm's commands and lists the partitions.
class ClusterProbe : public QObject
{
    Q_OBJECT

public:
    ClusterProbe(const ClusterProfile &profile, const SshConfig &ssh, QObject *parent = nullptr);
    void start();

Q_SIGNALS:
    // In words, for the user: what was found, or what went wrong.
    void finished(bool ok, const QString &report);

private:
    void answered(const SshResult &result);

    ClusterProfile m_profile;
    SshClient *m_ssh = nullptr;
    QElapsedTimer m_clock;
    QString m_found;
};

#endif
