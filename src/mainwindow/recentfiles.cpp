// SPDX-License-Identifier: GPL-3.0-or-later
#include "mainwindow/recentfiles.h"

#include "settings/settingskeys.h"

#include <QFileInfo>
#include <QMenu>
#include <QSettings>
#include <QToolButton>

RecentFiles::RecentFiles(QToolButton *button, QSettings *settings)
    : QObject(button)
    , m_button(button)
    , m_settings(settings)
{
    auto *menu = new QMenu(button);
    menu->setObjectName(QStringLiteral("menuRecentFiles"));
    button->setMenu(menu);
    button->setPopupMode(QToolButton::MenuButtonPopup);
    connect(menu, &QMenu::aboutToShow, this, &RecentFiles::fill);
}

void RecentFiles::fill()
{
    QMenu *menu = m_button->menu();
    menu->clear();
    QStringList files = m_settings->value(SettingsKeys::RecentFiles).toStringList();
    files.removeIf([](const QString &file) { return !QFileInfo::exists(file); });
    m_settings->setValue(SettingsKeys::RecentFiles, files);
    for (const QString &file : std::as_const(files)) {
        const QFileInfo info(file);
        QString text = QStringLiteral("%1   (%2)").arg(info.fileName(), info.path());
        menu->addAction(text.replace(QLatin1Char('&'), QStringLiteral("&&")), this,
                        [this, file] { Q_EMIT chosen(file); });
    }
    if (files.isEmpty())
        menu->addAction(tr("No recent files"))->setEnabled(false);
}

void RecentFiles::remember(const QString &path)
{
    const QString absolute = QFileInfo(path).absoluteFilePath();
    QStringList files = m_settings->value(SettingsKeys::RecentFiles).toStringList();
    files.removeAll(absolute);
    files.prepend(absolute);
    m_settings->setValue(SettingsKeys::RecentFiles, files.mid(0, Kept));
}
