// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef ASKPASS_H
#define ASKPASS_H

#include <QStringList>

// The launcher as ssh's askpass helper: asks the user what ssh's prompt asks, in a dialog.
namespace AskPass {

// Whether ssh started the launcher for this, with these arguments.
bool isAsked(const QStringList &arguments);
// Shows the prompt, prints the answer for ssh; the exit status says whether one was given.
int ask(const QString &prompt);

}

#endif
