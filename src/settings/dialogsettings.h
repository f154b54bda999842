// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef DIALOGSETTINGS_H
#define DIALOGSETTINGS_H

#include <QDialog>

class ClustersPage;
class QSettings;

namespace Ui {
class DialogSettings;
}

class DialogSettings : public QDialog
{
    Q_OBJECT

public:
    DialogSettings(QWidget *parent, QSettings *settings);
    ~DialogSettings() override;

    void setDirectory(const QString &directory);
    QString directory() const;
    void checkBinaries();
    void checkLauncher();
    // Stores the MPI launcher's settings as the dialog shows them.
    void storeLauncherSettings();
    // Stores the cluster profiles as the "Clusters" page shows them.
    void storeClusters();
    ClustersPage *clustersPage() const { return m_clusters; }
    // Refused while the cluster profiles cannot be stored.
    void accept() override;

    // Appended to an executable's name when looking for it: ".exe" on Windows, nothing elsewhere.
    static QString executableSuffix();
    // Whether the parallel builds run on this platform, through an MPI launcher.
    static bool parallelBuildsRun();

public Q_SLOTS:
    void changeMoltraDir();

private:
    Ui::DialogSettings *ui;
    QSettings *m_settings;
    ClustersPage *m_clusters = nullptr;
};

#endif
