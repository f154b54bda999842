// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/clusterspage.h"

#include "cluster/clusterprobe.h"
#include "ui_clusterspage.h"

#include <QSet>

ClustersPage::ClustersPage(const QList<ClusterProfile> &profiles, const SshConfig &ssh,
                           QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::ClustersPage)
    , m_profiles(profiles)
    , m_ssh(ssh)
{
    ui->setupUi(this);
    for (const ClusterProfile &profile : std::as_const(m_profiles))
        ui->listWidgetClusters->addItem(profile.name);
    connect(ui->listWidgetClusters, &QListWidget::currentRowChanged, this, &ClustersPage::select);
    connect(ui->buttonAddCluster, &QPushButton::clicked, this, &ClustersPage::add);
    connect(ui->buttonRemoveCluster, &QPushButton::clicked, this, &ClustersPage::remove);
    connect(ui->buttonTestConnection, &QPushButton::clicked, this, &ClustersPage::testConnection);
    connect(ui->editName, &QLineEdit::textEdited, this, [this](const QString &name) {
        if (QListWidgetItem *item = ui->listWidgetClusters->currentItem())
            item->setText(name);
    });
    ui->listWidgetClusters->setCurrentRow(m_profiles.isEmpty() ? -1 : 0);
    select(ui->listWidgetClusters->currentRow());
}

ClustersPage::~ClustersPage()
{
    delete ui;
}

QList<ClusterProfile> ClustersPage::profiles()
{
    commit();
    return m_profiles;
}

QString ClustersPage::problem()
{
    QSet<QString> names;
    for (const ClusterProfile &profile : profiles()) {
        const QString name = profile.name.trimmed();
        // The name is a settings group and a word of the ledger: no slashes.
        if (name.isEmpty() || name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\')))
            return tr("Each cluster needs a name without slashes.");
        if (names.contains(name))
            return tr("Two clusters are named %1.").arg(name);
        names.insert(name);
    }
    return QString();
}

void ClustersPage::select(int row)
{
    commit();
    m_row = row;
    const bool any = row >= 0 && row < m_profiles.size();
    const ClusterProfile profile = any ? m_profiles.at(row) : ClusterProfile();
    for (QWidget *field :
         { static_cast<QWidget *>(ui->editName), static_cast<QWidget *>(ui->editHost),
           static_cast<QWidget *>(ui->editSshOptions), static_cast<QWidget *>(ui->editRemoteDir),
           static_cast<QWidget *>(ui->editPackageDir), static_cast<QWidget *>(ui->editLauncher),
           static_cast<QWidget *>(ui->editPartition), static_cast<QWidget *>(ui->editAccount),
           static_cast<QWidget *>(ui->editTimeLimit), static_cast<QWidget *>(ui->editSetup),
           static_cast<QWidget *>(ui->spinBoxPollSeconds),
           static_cast<QWidget *>(ui->buttonRemoveCluster),
           static_cast<QWidget *>(ui->buttonTestConnection) })
        field->setEnabled(any);
    ui->editName->setText(profile.name);
    ui->editHost->setText(profile.host);
    ui->editSshOptions->setText(profile.sshOptions);
    ui->editRemoteDir->setText(profile.remoteDir);
    ui->editPackageDir->setText(profile.packageDir);
    ui->editLauncher->setText(profile.launcher);
    ui->editPartition->setText(profile.partition);
    ui->editAccount->setText(profile.account);
    ui->editTimeLimit->setText(profile.timeLimit);
    ui->editSetup->setPlainText(profile.setup);
    ui->spinBoxPollSeconds->setValue(profile.pollSeconds);
    ui->spinBoxMaxSubmitted->setValue(profile.maxSubmitted);
    ui->labelTestResult->clear();
}

void ClustersPage::commit()
{
    if (m_row < 0 || m_row >= m_profiles.size())
        return;
    ClusterProfile &profile = m_profiles[m_row];
    profile.name = ui->editName->text().trimmed();
    profile.host = ui->editHost->text().trimmed();
    profile.sshOptions = ui->editSshOptions->text();
    profile.remoteDir = ui->editRemoteDir->text().trimmed();
    profile.packageDir = ui->editPackageDir->text().trimmed();
    profile.launcher = ui->editLauncher->text().trimmed();
    profile.partition = ui->editPartition->text().trimmed();
    profile.account = ui->editAccount->text().trimmed();
    profile.timeLimit = ui->editTimeLimit->text().trimmed();
    profile.setup = ui->editSetup->toPlainText();
    // A shorter interval stored by hand stays until the user picks another one here.
    const int shown = ui->spinBoxPollSeconds->value();
    if (!(profile.pollSeconds < ClusterProfile::MinPollSeconds
          && shown == ClusterProfile::MinPollSeconds))
        profile.pollSeconds = shown;
    profile.maxSubmitted = ui->spinBoxMaxSubmitted->value();
}

void ClustersPage::add()
{
    commit();
    ClusterProfile profile;
    profile.name = tr("cluster%1").arg(m_profiles.size() + 1);
    m_profiles.append(profile);
    ui->listWidgetClusters->addItem(profile.name);
    ui->listWidgetClusters->setCurrentRow(int(m_profiles.size()) - 1);
    ui->editHost->setFocus();
}

void ClustersPage::remove()
{
    const int row = m_row;
    if (row < 0 || row >= m_profiles.size())
        return;
    m_row = -1;
    m_profiles.removeAt(row);
    delete ui->listWidgetClusters->takeItem(row);
    select(ui->listWidgetClusters->currentRow());
}

void ClustersPage::testConnection()
{
    commit();
    if (m_row < 0 || m_probe)
        return;
    ui->labelTestResult->setText(tr("Connecting to %1...").arg(m_profiles.at(m_row).host));
    ui->buttonTestConnection->setEnabled(false);
    m_probe = new ClusterProbe(m_profiles.at(m_row), m_ssh, this);
    connect(m_probe, &ClusterProbe::finished, this, [this](bool, const QString &report) {
        ui->labelTestResult->setText(report);
        ui->buttonTestConnection->setEnabled(m_row >= 0);
        m_probe->deleteLater();
    });
    m_probe->start();
}
