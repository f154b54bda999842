// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef INPUTTAB_H
#define INPUTTAB_H

#include "launcher/launcher.h"

#include <QObject>

class RunOn;

namespace Ui {
class MainWindow;
}

// The deck the launcher loaded, as the Input tab and the run controls show it, and the choice
// they make of how it runs.
class InputTab : public QObject
{
    Q_OBJECT

public:
    InputTab(Ui::MainWindow *ui, Launcher *launcher, QObject *parent);

    // The run controls as they stand.
    RunChoice choice() const;

Q_SIGNALS:
    void failed(const QString &text);

private:
    void showDeck(const DeckShown &deck);
    void showText(const QString &text);
    void openInEditor();

    Ui::MainWindow *ui;
    Launcher *m_launcher;
    RunOn *m_run_on;
};

#endif
