// SPDX-License-Identifier: GPL-3.0-or-later
#include "mainwindow/askpass.h"
#include "mainwindow/mainwindow.h"
#include "settings/settingskeys.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    // Where the list of jobs is kept: the user's data folder of this launcher.
    QCoreApplication::setOrganizationName(SettingsKeys::Organization);
    QCoreApplication::setApplicationName(SettingsKeys::Application);
    // ssh asks for a passphrase or a code through the launcher.
    if (AskPass::isAsked(QCoreApplication::arguments()))
        return AskPass::ask(QCoreApplication::arguments().at(1));
    int exitCode = 0;
    {
        MainWindow window;
        window.show();
        exitCode = application.exec();
    }
    return exitCode;
}
