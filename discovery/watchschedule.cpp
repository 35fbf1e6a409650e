#include "watchschedule.h"

#include <algorithm>

WatchSchedule::WatchSchedule(QVector<quint32> subnet, qint64 sweepPeriodMs, qint64 sweptAt)
    : m_subnet(std::move(subnet))
    , m_periodMs(sweepPeriodMs)
    , m_sweptAt(sweptAt)
    , m_sweepStartMs(sweptAt == LLONG_MIN ? 0 : sweptAt + sweepPeriodMs / 2)
{
}

qint64 WatchSchedule::lastAsked(quint32 address) const
{
    // Not asked since the first scan, which may have asked it.
    return m_asked.value(address, m_sweptAt);
}

void WatchSchedule::forgetOld(qint64 now)
{
    // An address asked this long ago is as good as never asked.
    for (auto it = m_asked.begin(); it != m_asked.end();) {
        it = *it <= now - kRecentMs && m_sweptAt <= now - kRecentMs ? m_asked.erase(it)
                                                                    : std::next(it);
    }
}

QVector<quint32> WatchSchedule::rechecks(const QVector<quint32> &known, qint64 now)
{
    forgetOld(now);
    QVector<quint32> due;
    for (const quint32 address : known) {
        const int misses = m_misses.value(address);
        const qint64 interval
            = misses > 0 && misses <= kQuickRechecks ? kMissedRecheckMs : kRecheckMs;
        if (lastAsked(address) <= now - interval) {
            m_asked.insert(address, now);
            due.append(address);
        }
    }
    return due;
}

void WatchSchedule::recheckEnded(quint32 address, bool answered)
{
    if (answered) {
        m_misses.remove(address);
    } else {
        ++m_misses[address];
    }
}

QVector<quint32> WatchSchedule::sweepShare(const QVector<quint32> &known, qint64 now)
{
    QVector<quint32> due;
    const int total = m_subnet.size();
    if (total == 0 || now < m_sweepStartMs) {
        return due;
    }
    const qint64 spreadMs
        = std::max<qint64>(m_periodMs / 2, qint64(total) * 1000 / kSweepPerSecond);
    const qint64 reached = std::min<qint64>(
        total, (qint64(total) * (now - m_sweepStartMs) + spreadMs - 1) / spreadMs);
    for (; m_sweepNext < reached; ++m_sweepNext) {
        const quint32 address = m_subnet.at(m_sweepNext);
        if (lastAsked(address) <= now - kRecentMs
            && !std::binary_search(known.cbegin(), known.cend(), address)) {
            m_asked.insert(address, now);
            due.append(address);
        }
    }
    if (m_sweepNext == total) {
        m_sweepNext = 0;
        m_sweepStartMs = std::max(m_sweepStartMs + m_periodMs, now);
    }
    return due;
}
