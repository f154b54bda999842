// SPDX-License-Identifier: GPL-3.0-or-later
#include "mainwindow/outputfileviewaccessible.h"

QAccessibleInterface *OutputFileViewAccessible::create(const QString &className, QObject *object)
{
    if (className == QLatin1String("OutputFileView") && object->isWidgetType())
        return new OutputFileViewAccessible(static_cast<OutputFileView *>(object));
    return nullptr;
}
