// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef FINDBAR_H
#define FINDBAR_H

#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;

// A bar under a text pane that finds text in it: next, previous, match case; the search
// wraps around the pane's ends.
class FindBar : public QWidget
{
    Q_OBJECT

public:
    explicit FindBar(QPlainTextEdit *pane, QWidget *parent = nullptr);

    // Shows the bar with its text selected, ready to type.
    void open();
    bool find(bool backward);

private:
    QPlainTextEdit *m_pane;
    QLineEdit *m_text;
    QCheckBox *m_match_case;
    QLabel *m_result;
};

#endif
