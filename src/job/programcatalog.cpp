// SPDX-License-Identifier: GPL-3.0-or-later
#include "job/programcatalog.h"

#include <QFileInfo>
#include <QStandardPaths>

namespace ProgramCatalog {

const QList<Program> &programs()
{
    const QString moltra = QStringLiteral("moltra");
    const QString evalix = QStringLiteral("evalix");
    const QString d12 = QStringLiteral("d12");
    const QString d3 = QStringLiteral("d3");
    const QString out = QStringLiteral(".out");
    const QString outp = QStringLiteral(".outp");
    // Code 4 of the portal selects the serial EVALIX as code 3 does; no code selects Pevalix.
    static const QList<Program> catalog = {
        { moltra, moltra, d12, out, 1, false, { 0 } },
        { QStringLiteral("Pmoltra"), moltra, d12, out, 1, true, { 1 } },
        { QStringLiteral("MPPmoltra"), moltra, d12, out, 1, true, { 2 } },
        { evalix, evalix, d3, outp, 2, false, { 3, 4 } },
        { QStringLiteral("Pevalix"), evalix, d3, outp, 2, true, {} },
        { QStringLiteral("zetrel"), QStringLiteral("zetrel"), QString(), QString(), 0, false, {} },
    };
    return catalog;
}

const Program *find(const QString &name)
{
    for (const Program &program : programs()) {
        if (program.name == name && !program.deckSuffix.isEmpty())
            return &program;
    }
    return nullptr;
}

QStringList namesForDeck(const QString &suffix)
{
    QStringList names;
    for (const Program &program : programs()) {
        if (program.deckSuffix == suffix)
            names.append(program.name);
    }
    return names;
}

bool fits(const Program &program, const QString &deck)
{
    // A deck of any other kind, chosen with "All Files", is taken for a MOLTRA deck.
    const bool evalixDeck = QFileInfo(deck).suffix() == QLatin1String("d3");
    return (program.stepCount == 2) == evalixDeck;
}

QString nameForPortalCode(int code)
{
    for (const Program &program : programs()) {
        if (program.portalCodes.contains(code))
            return program.name;
    }
    return QString();
}

QString findExecutable(const QString &program)
{
    const QString path = program.contains(QLatin1Char('/'))
            ? program
            : QStandardPaths::findExecutable(program);
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable() ? path : QString();
}

bool isJobFile(const QString &fileName)
{
    static const QStringList suffixes
            = { QStringLiteral("d12"), QStringLiteral("d3"),  QStringLiteral("9"),
                QStringLiteral("34"),  QStringLiteral("25"),  QStringLiteral("DAT"),
                QStringLiteral("CP"),  QStringLiteral("out"), QStringLiteral("outp") };
    return suffixes.contains(QFileInfo(fileName).completeSuffix());
}

}
