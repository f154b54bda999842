// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef RECENTFILES_H
#define RECENTFILES_H

#include <QObject>

class QSettings;
class QToolButton;

// The decks and job files opened last, offered by the menu of a button, newest first.
class RecentFiles : public QObject
{
    Q_OBJECT

public:
    // How many files the menu offers at most.
    static constexpr int Kept = 10;

    RecentFiles(QToolButton *button, QSettings *settings);
    void remember(const QString &path);

Q_SIGNALS:
    void chosen(const QString &path);

private:
    void fill();

    QToolButton *m_button;
    QSettings *m_settings;
};

#endif
