// SPDX-License-Identifier: GPL-3.0-or-later
#include "job/shellwords.h"

namespace ShellWords {

QStringList split(const QString &text, QString *error)
{
    enum class Quote { None, Single, Double };
    static const QString escapableInDouble = QStringLiteral("$`\"\\\n");
    QStringList words;
    QString word;
    bool inWord = false;
    Quote quote = Quote::None;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        const QChar next = i + 1 < text.size() ? text.at(i + 1) : QChar();
        if (quote == Quote::Single) {
            if (c == QLatin1Char('\''))
                quote = Quote::None;
            else
                word += c;
        } else if (quote == Quote::Double) {
            if (c == QLatin1Char('"')) {
                quote = Quote::None;
            } else if (c == QLatin1Char('\\') && !next.isNull()
                       && escapableInDouble.contains(next)) {
                // A backslash and newline join lines: both go.
                if (next != QLatin1Char('\n'))
                    word += next;
                ++i;
            } else {
                word += c;
            }
        } else if (c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n')) {
            if (inWord)
                words.append(word);
            word.clear();
            inWord = false;
        } else if (c == QLatin1Char('\\')) {
            if (next.isNull()) {
                *error = QStringLiteral("it ends with a backslash");
                return {};
            }
            if (next != QLatin1Char('\n')) {
                word += next;
                inWord = true;
            }
            ++i;
        } else {
            inWord = true;
            if (c == QLatin1Char('\''))
                quote = Quote::Single;
            else if (c == QLatin1Char('"'))
                quote = Quote::Double;
            else
                word += c;
        }
    }
    if (quote != Quote::None) {
        *error = quote == Quote::Single ? QStringLiteral("a single quote is not closed")
                                        : QStringLiteral("a double quote is not closed");
        return {};
    }
    if (inWord)
        words.append(word);
    return words;
}

QString quote(const QString &word)
{
    QString quoted = word;
    quoted.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

}
