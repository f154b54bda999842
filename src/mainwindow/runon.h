// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef RUNON_H
#define RUNON_H

#include <QObject>

class Launcher;
class QComboBox;

// Where Start sends a job: "This computer" or one of the launcher's clusters, the last job's
// place at first.
class RunOn : public QObject
{
    Q_OBJECT

public:
    RunOn(QComboBox *combo, Launcher *launcher, QObject *parent = nullptr);

    // Jobs::thisComputer(), or the chosen cluster's name.
    QString where() const;
    void setWhere(const QString &where);

private:
    // The clusters offered, keeping the choice where it is still there.
    void setPlaces();

    QComboBox *m_combo;
    Launcher *m_launcher;
};

#endif
