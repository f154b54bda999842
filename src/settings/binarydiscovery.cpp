// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/dialogsettings.h"
#include "settings/settingskeys.h"

#include "job/programcatalog.h"
#include "ui_dialogsettings.h"

#include <QFileInfo>
#include <QLabel>

namespace {
const QString Found = QStringLiteral("<font color='green'>Found!</font>");
const QString NotFound = QStringLiteral("<font color='red'>Not found!</font>");
const QString NotAvailable
        = QStringLiteral("<font color='orange'>Not available on this platform</font>");
}

QString DialogSettings::executableSuffix()
{
#ifdef Q_OS_WIN
    return QStringLiteral(".exe");
#else
    return QString();
#endif
}

bool DialogSettings::parallelBuildsRun()
{
#ifdef Q_OS_WIN
    return false;
#else
    return true;
#endif
}

void DialogSettings::checkLauncher()
{
    const QString launcher = ui->editMpiLauncher->text();
    ui->labelMpiLauncher->setText(
            launcher + QStringLiteral(": ")
            + (ProgramCatalog::findExecutable(launcher).isEmpty() ? NotFound : Found));
}

void DialogSettings::checkBinaries()
{
    const QString directory = ui->editMoltraDir->text();
    for (const Program &program : ProgramCatalog::programs()) {
        auto *label = findChild<QLabel *>(QStringLiteral("label") + program.name.at(0).toUpper()
                                          + program.name.mid(1));
        if (!label)
            continue;
        // No deck runs zetrel; the parallel builds run through MPI, which Windows lacks here.
        QString state = NotAvailable;
        if (!program.deckSuffix.isEmpty() && (!program.parallel || parallelBuildsRun())) {
            const QString path = directory + QLatin1Char('/')
                    + SettingsKeys::stringValue(*m_settings, SettingsKeys::binaryKey(program.name))
                    + executableSuffix();
            // Existence alone counts: whatever stands at that path is taken for the executable.
            state = QFileInfo::exists(path) ? Found : NotFound;
        }
        label->setText(program.name + QStringLiteral(": ") + state);
    }
}
