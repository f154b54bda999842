// SPDX-License-Identifier: GPL-3.0-or-later
#include "mainwindow/notifier.h"

#include <QCoreApplication>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QFileInfo>

namespace {

const QString Service = QStringLiteral("org.freedesktop.Notifications");
const QString Path = QStringLiteral("/org/freedesktop/Notifications");
const QString Interface = QStringLiteral("org.freedesktop.Notifications");

}

Notifier::Notifier(const QDBusConnection &bus, QObject *parent)
    : QObject(parent)
    , m_bus(bus)
{
    m_bus.connect(Service, Path, Interface, QStringLiteral("ActionInvoked"), this,
                  SLOT(actionInvoked(uint, QString)));
}

void Notifier::addBatch(const QList<qint64> &ids)
{
    if (ids.size() > 1)
        m_batches.append({ QSet<qint64>(ids.cbegin(), ids.cend()), {} });
}

QString Notifier::summaryOf(const Job &job)
{
    const QString deck = QFileInfo(job.deck).fileName();
    return job.title.isEmpty() ? deck : tr("%1 (%2)").arg(job.title, deck);
}

QString Notifier::batchSummary(const QList<Jobs::State> &ends)
{
    // In the order of the states: finished ones first.
    QMap<Jobs::State, int> counts;
    for (const Jobs::State end : ends)
        ++counts[end];
    QStringList parts;
    for (auto count = counts.cbegin(); count != counts.cend(); ++count)
        parts << tr("%1 %2").arg(count.value()).arg(Jobs::stateName(count.key()).toLower());
    return tr("%1 jobs ended: %2").arg(ends.size()).arg(parts.join(QStringLiteral(", ")));
}

void Notifier::ended(const Job &job, const JobOutcome &outcome, bool looking)
{
    for (int index = 0; index < m_batches.size(); ++index) {
        Batch &batch = m_batches[index];
        if (!batch.waiting.remove(job.id))
            continue;
        batch.ends << job.state;
        if (!batch.waiting.isEmpty())
            return;
        const QList<Jobs::State> ends = batch.ends;
        m_batches.removeAt(index);
        if (!looking)
            notify(batchSummary(ends), tr("The last was %1.").arg(summaryOf(job)), job.id);
        return;
    }
    if (!looking)
        notify(summaryOf(job),
               Jobs::endText(outcome, Jobs::durationText(job.started.secsTo(job.ended))), job.id);
}

void Notifier::notify(const QString &summary, const QString &body, qint64 id)
{
    QDBusMessage call
            = QDBusMessage::createMethodCall(Service, Path, Interface, QStringLiteral("Notify"));
    // Clicking the notification is its "default" action.
    call << QCoreApplication::applicationName() << uint(0) << QStringLiteral("moltra-farbo-starter")
         << summary << body << QStringList{ QStringLiteral("default"), tr("Show") } << QVariantMap()
         << int(-1);
    // Never waited for: a slow service must not hold up the window.
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, id](QDBusPendingCallWatcher *finished) {
                finished->deleteLater();
                const QDBusPendingReply<uint> reply = *finished;
                if (reply.isError())
                    Q_EMIT unavailable();
                else
                    m_shown.insert(reply.value(), id);
            });
}

void Notifier::actionInvoked(uint notification, const QString &action)
{
    const auto shown = m_shown.constFind(notification);
    if (shown != m_shown.cend() && action == QLatin1String("default"))
        Q_EMIT activated(shown.value());
}
