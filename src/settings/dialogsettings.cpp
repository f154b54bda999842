// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/dialogsettings.h"

#include "settings/clusterspage.h"
#include "settings/settingskeys.h"
#include "ui_dialogsettings.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>

DialogSettings::DialogSettings(QWidget *parent, QSettings *settings)
    : QDialog(parent)
    , ui(new Ui::DialogSettings)
    , m_settings(settings)
{
    ui->setupUi(this);
    connect(ui->buttonChangeMoltraDir, &QPushButton::clicked, this,
            &DialogSettings::changeMoltraDir);
    ui->editMpiLauncher->setText(SettingsKeys::stringValue(*m_settings, SettingsKeys::MpiLauncher));
    ui->editMpiArguments->setText(
            SettingsKeys::stringValue(*m_settings, SettingsKeys::MpiArguments));
    ui->editMpiCoresOption->setText(
            SettingsKeys::stringValue(*m_settings, SettingsKeys::MpiCoresOption));
    connect(ui->editMpiLauncher, &QLineEdit::textChanged, this, &DialogSettings::checkLauncher);
    const JobQueue::Limits here = SettingsKeys::localLimits(*m_settings);
    ui->spinBoxLocalCores->setValue(here.cores);
    ui->spinBoxBackfillMinutes->setValue(here.backfillMinutes);
    m_clusters = new ClustersPage(SettingsKeys::clusterProfiles(*m_settings),
                                  SettingsKeys::sshConfig(), this);
    ui->tabWidget->addTab(m_clusters, tr("Clusters"));
    // Enter confirms the dialog, also right after a folder was chosen with "Change...".
    ui->buttonBox->button(QDialogButtonBox::Ok)->setDefault(true);
    checkLauncher();
}

void DialogSettings::storeLauncherSettings()
{
    m_settings->setValue(SettingsKeys::MpiLauncher, ui->editMpiLauncher->text());
    m_settings->setValue(SettingsKeys::MpiArguments, ui->editMpiArguments->text());
    m_settings->setValue(SettingsKeys::MpiCoresOption, ui->editMpiCoresOption->text());
    m_settings->setValue(SettingsKeys::LocalCores, ui->spinBoxLocalCores->value());
    m_settings->setValue(SettingsKeys::BackfillMinutes, ui->spinBoxBackfillMinutes->value());
}

void DialogSettings::storeClusters()
{
    SettingsKeys::storeClusterProfiles(*m_settings, m_clusters->profiles());
}

void DialogSettings::accept()
{
    const QString problem = m_clusters->problem();
    if (!problem.isEmpty()) {
        ui->tabWidget->setCurrentWidget(m_clusters);
        QMessageBox::warning(this, windowTitle(), problem);
        return;
    }
    QDialog::accept();
}

DialogSettings::~DialogSettings()
{
    delete ui;
}

void DialogSettings::setDirectory(const QString &directory)
{
    ui->editMoltraDir->setText(directory);
    checkBinaries();
}

QString DialogSettings::directory() const
{
    return ui->editMoltraDir->text();
}

void DialogSettings::changeMoltraDir()
{
    const QString chosen = QFileDialog::getExistingDirectory(
            this, tr("Select a directory"), ui->editMoltraDir->text(),
            QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
    if (chosen.isEmpty())
        return;
    ui->editMoltraDir->setText(chosen);
    checkBinaries();
}
