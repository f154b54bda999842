// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef RUNCONTROLS_H
#define RUNCONTROLS_H

#include <QDateTime>
#include <QObject>

class Launcher;
class QMovie;
class QTimer;
struct RunShown;

namespace Ui {
class MainWindow;
}

// What the window's controls show of its job: Start or Stop, the turning loader and the busy
// cursor while it runs, the buttons that wait until it has ended, and the status line.
class RunControls : public QObject
{
    Q_OBJECT

public:
    RunControls(Ui::MainWindow *ui, Launcher *launcher, QObject *parent);
    ~RunControls() override;

    // The busy cursor tells of a job running on this computer; the window stays free to load
    // another deck. Start stays disabled until a stopped job has ended.
    void show(const RunShown &run);
    // The text, and the time since `since` where that is valid, counted on each second.
    void showStatus(const QString &text, const QDateTime &since);

private:
    void showClock();

    Ui::MainWindow *ui;
    QMovie *m_loader;
    QTimer *m_clock;
    QString m_status;
    QDateTime m_since;
    bool m_busy_cursor = false;
};

#endif
