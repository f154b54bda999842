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
        return false;
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

}
