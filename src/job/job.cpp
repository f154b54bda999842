// SPDX-License-Identifier: GPL-3.0-or-later
#include "job/job.h"

#include <QMetaEnum>

namespace Jobs {

bool isActive(State state)
{
    switch (state) {
    case State::Submitted:
    case State::Queued:
    case State::Running:
    case State::Stopping:
        return true;
    case State::Finished:
    case State::Failed:
    case State::Stopped:
    case State::Lost:
        break;
    }
    return false;
}

bool canMove(State from, State to)
{
    if (from == to || !isActive(from))
        return false;
    switch (to) {
    case State::Submitted:
        return from == State::Queued;
    case State::Queued:
        return from == State::Submitted;
    case State::Running:
        return from == State::Submitted || from == State::Queued;
    case State::Stopping:
    case State::Finished:
    case State::Failed:
    case State::Stopped:
    case State::Lost:
        break;
    }
    return true;
}

QString stateName(State state)
{
    return QString::fromLatin1(QMetaEnum::fromType<State>().valueToKey(int(state)));
}

State stateFromName(const QString &name, bool *ok)
{
    const int value = QMetaEnum::fromType<State>().keyToValue(name.toLatin1().constData(), ok);
    return *ok ? State(value) : State::Lost;
}

QString durationText(qint64 seconds)
{
    const QString minutesAndSeconds = QStringLiteral("%1:%2")
                                              .arg(seconds / 60 % 60)
                                              .arg(seconds % 60, 2, 10, QLatin1Char('0'));
    if (seconds < 3600)
        return minutesAndSeconds;
    return QStringLiteral("%1:%2")
            .arg(seconds / 3600)
            .arg(minutesAndSeconds.rightJustified(5, QLatin1Char('0')));
}

QString endText(const JobOutcome &outcome, const QString &elapsed)
{
    switch (outcome.ending) {
    case Ending::Finished:
        return QStringLiteral("Finished in ") + elapsed;
    case Ending::Stopped:
        return outcome.reason.isEmpty()
                ? QStringLiteral("Stopped after ") + elapsed
                : QStringLiteral("Stopped after %1, but %2").arg(elapsed, outcome.reason);
    case Ending::FailedToStart:
        return QStringLiteral("Could not start ") + outcome.reason;
    case Ending::Failed:
    case Ending::NoFort9:
        return QStringLiteral("Failed after %1: %2").arg(elapsed, outcome.reason);
    case Ending::Unknown:
        break;
    }
    return QStringLiteral("The job %1").arg(outcome.reason);
}

}

double JobUsage::efficiency(int cores, double wallSeconds) const
{
    if (cpuSeconds < 0 || cores < 1 || wallSeconds <= 0)
        return -1;
    return cpuSeconds / (cores * wallSeconds);
}

QString JobUsage::text(int cores, double wallSeconds) const
{
    const double share = efficiency(cores, wallSeconds);
    return QStringLiteral("CPU %1, %2, %3")
            .arg(cpuSeconds < 0 ? QStringLiteral("not known")
                                : Jobs::durationText(qRound64(cpuSeconds)),
                 share < 0 ? QStringLiteral("efficiency not known")
                           : QStringLiteral("%1 % of %2 %3")
                                     .arg(qRound(share * 100))
                                     .arg(cores)
                                     .arg(cores == 1 ? QStringLiteral("core")
                                                     : QStringLiteral("cores")),
                 peakKiB < 0 ? QStringLiteral("memory not known")
                             : QStringLiteral("%1 MiB").arg((peakKiB + 1023) / 1024));
}
