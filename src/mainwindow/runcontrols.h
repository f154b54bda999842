// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef RUNCONTROLS_H
#define RUNCONTROLS_H

#include <QObject>

class QMovie;

namespace Ui {
class MainWindow;
}

// What the window's controls show of its job: Start or Stop, the turning loader and the busy
// cursor while it runs, the buttons that wait until it has ended.
class RunControls : public QObject
{
    Q_OBJECT

public:
    RunControls(Ui::MainWindow *ui, QObject *parent);
    ~RunControls() override;

    // The busy cursor tells of a job running on this computer; the window stays free to load
    // another deck.
    void showRunning(bool stopping, bool here);
    // Start stays disabled until the stopped job has ended.
    void showStopping();
    void showIdle(bool uploadable);

private:
    Ui::MainWindow *ui;
    QMovie *m_loader;
    bool m_busy_cursor = false;
};

#endif
