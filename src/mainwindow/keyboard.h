// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef KEYBOARD_H
#define KEYBOARD_H

#include <QObject>

class FindBar;
class QMainWindow;

namespace Ui {
class MainWindow;
}

// The window's keys: each button's shortcut named in its tool tip, Tab in reading order, Enter
// on a tool button, F5, find in the output and zoom.
class Keyboard : public QObject
{
    Q_OBJECT

public:
    Keyboard(QMainWindow *window, Ui::MainWindow *ui, QWidget *outputTab, FindBar *findBar);

    // Moves the focus on by Tab (or back by Shift+Tab) in reading order: every control once a
    // round, the shown page's between the tab bar and the buttons below. False where the focus
    // is not on one of them.
    bool focusNext(bool next);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void zoomPanes(int steps);

    Ui::MainWindow *ui;
    QWidget *m_output_tab;
    FindBar *m_find_bar;
};

#endif
