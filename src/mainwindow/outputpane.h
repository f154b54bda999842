// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef OUTPUTPANE_H
#define OUTPUTPANE_H

#include "job/outputfollower.h"

#include <QObject>
#include <QTimer>

class QPlainTextEdit;

// Feeds what the output follower hands out into the pane in short slices from the event loop,
// so that a program writing fast does not hold up the window. The pane follows the end while
// its last line is in view; a reader who scrolled up stays where they are.
class OutputPane : public QObject
{
    Q_OBJECT

public:
    explicit OutputPane(QPlainTextEdit *pane);

    void take(const OutputFollower::Update &update);
    // Puts everything taken into the pane now.
    void drain();
    void clear();

private:
    void insertSlice(qint64 budgetNs);

    QPlainTextEdit *m_pane;
    QString m_queue;
    QTimer m_timer;
};

#endif
