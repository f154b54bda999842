// SPDX-License-Identifier: GPL-3.0-or-later
#include "job/jobscript.h"

#include "job/shellwords.h"

namespace {

QString q(const QString &word)
{
    return ShellWords::quote(word);
}

QString quoted(const QStringList &words)
{
    QStringList list;
    for (const QString &word : words)
        list.append(q(word));
    return list.join(QLatin1Char(' '));
}

// The record is rewritten whole and moved into place, so that a reader never sees half of it.
// Its lines name no file: the plan knows them.
const char *const Functions = R"sh(record='moltra-status 1'
stopped=
trap 'stopped=1' TERM INT HUP
now() { date +%s.%N; }
say() {
    record="$record
$*"
    printf '%s\n' "$record" > "$status.new" && mv -f "$status.new" "$status"
}
finish() {
    trap - TERM INT HUP
    say "end $(now) $1"
    [ "$1" = finished ]
    exit
}
usable() { [ -f "$1" ] && [ -x "$1" ]; }
keep() {
    if [ -d "$1" ]; then say "step $n taken"; finish refused; fi
    [ -s "$1" ] || return 0
    for kept in "$1" "$1.err"; do
        rm -f "$kept~"
        if [ -e "$kept" ]; then
            mv -f "$kept" "$kept~" || { say "step $n unkept"; finish unstartable; }
        fi
    done
    say "step $n kept"
}
run() {
    input=$1 output=$2 executable=$3
    shift 3
    [ -z "$stopped" ] || finish stopped
    [ -f "$input" ] && [ -r "$input" ] || { say "step $n noinput"; finish unstartable; }
    usable "$executable" || { say "step $n noexecutable"; finish unstartable; }
    command -v "$1" > /dev/null 2>&1 || { say "step $n nolauncher"; finish unstartable; }
    keep "$output"
    say "step $n start $(now)"
    rm -f "$status.usage"
    if [ -n "$wrapper" ] && usable "$wrapper"; then
        "$wrapper" "$status.usage" "$@" < "$input" > "$output" 2> "$output.err"
    else
        "$@" < "$input" > "$output" 2> "$output.err"
    fi
    code=$?
    [ -s "$output.err" ] || rm -f "$output.err"
    times > "$status.times"
    { read -r own; read -r children; } < "$status.times"
    used=$(cat "$status.usage" 2> /dev/null)
    rm -f "$status.times" "$status.usage"
    say "step $n end $(now) $code $children ${used:--}"
    [ -z "$stopped" ] || finish stopped
    [ "$code" -eq 0 ] || finish failed
}
)sh";

}

namespace JobScript {

QByteArray render(const JobPlan &plan, const Place &place)
{
    QStringList lines{ QStringLiteral("#!") + place.shell };
    lines += place.header;
    lines.append(QStringLiteral("status=") + q(place.statusFile));
    lines.append(QStringLiteral("wrapper=") + q(place.stepWrapper));
    lines.append(QString::fromLatin1(Functions));
    for (const PlanStep &step : plan.steps) {
        const QString number = QString::number(step.number);
        lines.append(QStringLiteral("n=") + number);
        if (step.onlyWithoutFort9)
            lines.append(QStringLiteral("if [ ! -e fort.9 ]; then"));
        const QString run = QStringLiteral("run %1 %2 ").arg(q(step.input), q(step.output));
        if (step.fallbackProgram.isEmpty()) {
            lines.append(run + quoted(QStringList{ step.executable } + step.command));
        } else {
            lines += {
                QStringLiteral("if usable %1; then").arg(q(step.executable)),
                run + quoted(QStringList{ step.executable } + step.command),
                QStringLiteral("else"),
                QStringLiteral("say 'step %1 fallback'").arg(number),
                run + quoted({ step.fallbackExecutable, step.fallbackExecutable }),
                QStringLiteral("fi"),
            };
        }
        if (step.mustLeaveFort9)
            lines.append(
                    QStringLiteral("[ -e fort.9 ] || { say 'step %1 nofort9'; finish nofort9; }")
                            .arg(number));
        if (step.onlyWithoutFort9)
            lines.append(QStringLiteral("fi"));
    }
    lines.append(QStringLiteral("finish finished"));
    return lines.join(QLatin1Char('\n')).toUtf8() + '\n';
}

}
