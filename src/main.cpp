// SPDX-License-Identifier: GPL-3.0-or-later
#include "mainwindow/mainwindow.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    int exitCode = 0;
    {
        MainWindow window;
        window.show();
        exitCode = application.exec();
    }
    return exitCode;
}
