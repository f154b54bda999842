#include "settings/dialogsettings.h"
#include "settings/settingskeys.h"

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

void DialogSettings::checkBinaries()
{
    const QString directory = ui->editMoltraDir->text();
    const auto lookUp = [&](QLabel *label, const QString &program) {
        const QString name
                = SettingsKeys::stringValue(*m_settings, SettingsKeys::binaryKey(program));
        const QString path = directory + QLatin1Char('/') + name + executableSuffix();
        // Existence alone counts: whatever stands at that path is taken for the executable.
        const bool found = QFileInfo::exists(path);
        label->setText(program + QStringLiteral(": ") + (found ? Found : NotFound));
    };
    lookUp(ui->labelMoltra, QStringLiteral("moltra"));
    lookUp(ui->labelEvalix, QStringLiteral("evalix"));

    // The launcher runs only the serial builds, so the others are never looked for.
    ui->labelPmoltra->setText(QStringLiteral("Pmoltra: ") + NotAvailable);
    ui->labelPevalix->setText(QStringLiteral("Pevalix: ") + NotAvailable);
    ui->labelZetrel->setText(QStringLiteral("zetrel: ") + NotAvailable);
    ui->labelMPPmoltra->setText(QStringLiteral("MPPmoltra: ") + NotAvailable);
}
