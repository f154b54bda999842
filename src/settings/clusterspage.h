// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef CLUSTERSPAGE_H
#define CLUSTERSPAGE_H

#include "cluster/clusterprofile.h"
#include "cluster/sshclient.h"

#include <QPointer>
#include <QWidget>

class ClusterProbe;

namespace Ui {
class ClustersPage;
}

// The settings' "Clusters" page: the profiles, one edited at a time, and a connection test.
class ClustersPage : public QWidget
{
    Q_OBJECT

public:
    ClustersPage(const QList<ClusterProfile> &profiles, const SshConfig &ssh,
                 QWidget *parent = nullptr);
    ~ClustersPage() override;

    // As edited so far.
    QList<ClusterProfile> profiles();
    // Why the profiles cannot be kept as they are (a name missing or given twice), or empty.
    QString problem();

    void add();
    void remove();
    void testConnection();

private:
    void select(int row);
    // Takes the fields into the profile being edited.
    void commit();

    Ui::ClustersPage *ui;
    QList<ClusterProfile> m_profiles;
    int m_row = -1;
    SshConfig m_ssh;
    QPointer<ClusterProbe> m_probe;
};

#endif
