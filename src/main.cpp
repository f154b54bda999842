// SPDX-License-Identifier: GPL-3.0-or-later
#include "mainwindow/mainwindow.h"
#include "settings/settingskeys.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    // Where the list of jobs is kept: the user's data folder of this launcher.
    QCoreApplication::setOrganizationName(SettingsKeys::Organization);
    QCoreApplication::setApplicationName(SettingsKeys::Application);
    int exitCode = 0;
    {
        MainWindow window;
        window.show();
        exitCode = application.exec();
    }
    return exitCode;
}
