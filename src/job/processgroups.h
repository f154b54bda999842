// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef PROCESSGROUPS_H
#define PROCESSGROUPS_H

#include <QString>

// The process groups that jobs run in, seen through the system: a step's group lives as long
// as any process of it, whether or not the launcher started it.
namespace ProcessGroups {

enum class Signal { Terminate, Kill };

void signal(qint64 group, Signal signal);
// Whether a process of the group is still alive. Members that ended but wait to be reaped by
// whoever inherited them do not count: they hold nothing any more.
bool alive(qint64 group);
// Names this boot of the system; empty where the system does not say.
QString bootId();

}

#endif
