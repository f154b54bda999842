// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef LATENESSPROBE_H
#define LATENESSPROBE_H

#include <QElapsedTimer>
#include <QList>
#include <QTimer>

#include <algorithm>

// Measures how late the event loop runs a 5 ms timer: what a user feels as a stalled window.
class LatenessProbe
{
public:
    LatenessProbe()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const qint64 now = m_clock.nsecsElapsed();
            m_lateness.append(qMax(0.0, (now - m_last) / 1e6 - 5));
            m_last = now;
        });
    }
    void start()
    {
        m_clock.start();
        m_last = 0;
        m_timer.start(5);
    }
    // Lateness in milliseconds at a share of the samples: 0.5 for the median, 1 for the maximum.
    double at(double share)
    {
        std::sort(m_lateness.begin(), m_lateness.end());
        const auto index = qsizetype(share * double(m_lateness.size() - 1));
        return m_lateness.value(index);
    }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    QList<double> m_lateness;
};

#endif
