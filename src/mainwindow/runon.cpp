// SPDX-License-Identifier: GPL-3.0-or-later
#include "mainwindow/runon.h"

#include "launcher/launcher.h"

#include <QComboBox>

RunOn::RunOn(QComboBox *combo, Launcher *launcher, QObject *parent)
    : QObject(parent)
    , m_combo(combo)
    , m_launcher(launcher)
{
    setPlaces();
    setWhere(launcher->remembered().where);
    connect(launcher, &Launcher::placesChanged, this, &RunOn::setPlaces);
}

QString RunOn::where() const
{
    return m_combo->currentIndex() <= 0 ? Jobs::thisComputer() : m_combo->currentText();
}

void RunOn::setWhere(const QString &where)
{
    const int index = where == Jobs::thisComputer() ? 0 : m_combo->findText(where);
    m_combo->setCurrentIndex(qMax(0, index));
}

void RunOn::setPlaces()
{
    const QString chosen = where();
    m_combo->clear();
    m_combo->addItem(tr("This computer"));
    m_combo->addItems(m_launcher->clusters());
    setWhere(chosen);
}
