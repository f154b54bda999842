// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef OUTPUTVIEW_H
#define OUTPUTVIEW_H

#include <QObject>

class FindBar;
class Launcher;
class OutputFileView;
class QTabWidget;
class QTimer;

// The Output tab: there while the loaded deck has output to show, following a running job's
// output file, searched by its find bar. It never shows another job's output.
class OutputView : public QObject
{
    Q_OBJECT

public:
    // Takes the tab at index 1 of the tabs, which holds the view, out until there is output;
    // shows what the launcher says of its output.
    OutputView(QTabWidget *tabs, OutputFileView *view, Launcher *launcher, QObject *parent);

    QWidget *tab() const { return m_tab; }
    FindBar *findBar() const { return m_find_bar; }

    // The earlier output of a deck, whole, or none: a path that is not a regular file takes the
    // tab away.
    void showEarlier(const QString &output);
    // A job's output from its beginning, in front, taken in as it grows.
    void follow(const QString &output);
    // The next file the job writes is new: it is shown afresh.
    void restart(const QString &output);
    // Takes in what the followed file gained.
    void poll();
    // Takes in all the file holds, and stops following.
    void complete(const QString &output);
    void bringToFront();
    // Asks for a line to go to.
    void goToLine();

private:
    void showTab();

    QTabWidget *m_tabs;
    QWidget *m_tab;
    OutputFileView *m_view;
    FindBar *m_find_bar;
    QTimer *m_tick;
};

#endif
