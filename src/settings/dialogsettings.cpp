#include "settings/dialogsettings.h"

#include "ui_dialogsettings.h"

#include <QFileDialog>

DialogSettings::DialogSettings(QWidget *parent, QSettings *settings)
    : QDialog(parent)
    , ui(new Ui::DialogSettings)
    , m_settings(settings)
{
    ui->setupUi(this);
    connect(ui->buttonChangeMoltraDir, &QPushButton::clicked, this,
            &DialogSettings::changeMoltraDir);
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
