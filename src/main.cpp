// SPDX-License-Identifier: GPL-3.0-or-later
#include "mainwindow/askpass.h"
#include "mainwindow/mainwindow.h"
#include "mainwindow/singleinstance.h"
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
    // One launcher per user and display: a later start gives it its files and ends.
    const QStringList files = QCoreApplication::arguments().mid(1);
    const QString name = SingleInstance::serverName();
    if (SingleInstance::handOver(name, files))
        return 0;
    SingleInstance instance(name);
    QString error;
    if (!instance.listen(&error) && SingleInstance::handOver(name, files))
        return 0;
    if (!error.isEmpty())
        qWarning("%s", qPrintable(error));
    int exitCode = 0;
    {
        // The launcher outlives its window: its jobs end after the window is gone.
        Launcher launcher;
        MainWindow window(&launcher);
        QObject::connect(&instance, &SingleInstance::filesReceived, &window,
                         &MainWindow::takeFiles);
        window.show();
        exitCode = application.exec();
    }
    return exitCode;
}
