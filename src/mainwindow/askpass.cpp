// SPDX-License-Identifier: GPL-3.0-or-later
#include "mainwindow/askpass.h"

#include <QCoreApplication>
#include <QInputDialog>
#include <QMessageBox>

#include <cstdio>

namespace AskPass {

bool isAsked(const QStringList &arguments)
{
    // The launcher names itself as ssh's helper; ssh passes the prompt as the one argument.
    return arguments.size() == 2
            && qEnvironmentVariable("SSH_ASKPASS") == QCoreApplication::applicationFilePath();
}

int ask(const QString &prompt)
{
    const QString title = QCoreApplication::applicationName();
    const QString kind = qEnvironmentVariable("SSH_ASKPASS_PROMPT");
    if (kind == QLatin1String("confirm"))
        return QMessageBox::question(nullptr, title, prompt) == QMessageBox::Yes ? 0 : 1;
    if (kind == QLatin1String("none")) {
        QMessageBox::information(nullptr, title, prompt);
        return 0;
    }
    bool ok = false;
    const QString answer
            = QInputDialog::getText(nullptr, title, prompt, QLineEdit::Password, QString(), &ok);
    if (!ok)
        return 1;
    std::fputs(answer.toLocal8Bit().constData(), stdout);
    std::fputs("\n", stdout);
    return 0;
}

}
