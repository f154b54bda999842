// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef PROGRAMCATALOG_H
#define PROGRAMCATALOG_H

#include <QList>
#include <QString>
#include <QStringList>

// One program of the package: what it runs on, which executable a job starts for it and what
// it writes.
struct Program
{
    QString name;
    // The serial build whose executable a job runs for this program.
    QString serial;
    // Suffix of the decks it runs on; empty for a program that no deck offers.
    QString deckSuffix;
    QString outputSuffix;
    // Number of the job's last step: an EVALIX job may first run MOLTRA.
    int stepCount = 0;
    bool parallel = false;
    // Program codes of the portal's job files that select it.
    QList<int> portalCodes;
};

namespace ProgramCatalog {

const QList<Program> &programs();
const Program *find(const QString &name);
QStringList namesForDeck(const QString &suffix);
// Whether the program runs on this deck: EVALIX programs on .d3 decks, the others on any other.
bool fits(const Program &program, const QString &deck);
// Empty when the code selects no program.
QString nameForPortalCode(int code);
// The executable file that a program path or a bare name on PATH stands for, or empty.
QString findExecutable(const QString &program);
// Whether a file of a job's folder belongs to the job, by its complete suffix: its decks and
// what its programs leave, which the portal takes and a cluster job brings home.
bool isJobFile(const QString &fileName);

}

#endif
