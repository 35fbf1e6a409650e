#ifndef WATCHSCHEDULE_H
#define WATCHSCHEDULE_H

#include <QHash>
#include <QVector>

#include <climits>

// What a watch asks, and when: each known device again every kRecheckMs, or kMissedRecheckMs
// after a request it missed (kQuickRechecks times, so that a device that left is told within 15 s
// of its last answer), and every other address of the watched subnet once a sweep period, spread
// over the period's first half, leaving out addresses asked within kRecentMs. The first periodic
// sweep starts half a period after the first scan, so that no address waits more than a period.
//
// That keeps the ARP helper's bound, three requests to one address in any 10 s, beyond which it
// ends the session: requests to one address are at least kMissedRecheckMs apart, so any 10 s
// hold at most three of them, as long as a request leaves within 0.4 s of being asked for (the
// watch hands the helper one batch at a time). The first scan may have asked each address twice
// just before the schedule begins; the next request then comes kRecheckMs later.
//
// Times are monotonic milliseconds from the caller; addresses in host byte order.
class WatchSchedule
{
public:
    static constexpr qint64 kRecheckMs = 5000;
    static constexpr qint64 kMissedRecheckMs = 3600;
    static constexpr int kQuickRechecks = 2;
    static constexpr qint64 kRecentMs = 10000;
    // A sweep goes no faster than this, whatever the subnet: half the helper's rate is left for
    // the re-checks and the first scan of what appears.
    static constexpr int kSweepPerSecond = 1000;

    // subnet: what the periodic sweep covers, ascending (empty: no sweep). sweptAt: when the
    // first scan's sweep of it ended, or LLONG_MIN when there was none.
    WatchSchedule(QVector<quint32> subnet, qint64 sweepPeriodMs, qint64 sweptAt);

    // The known addresses due for their re-check at now; they count as asked.
    QVector<quint32> rechecks(const QVector<quint32> &known, qint64 now);
    // A re-check of address ended, answered or not.
    void recheckEnded(quint32 address, bool answered);
    // The sweep's share due at now, without known addresses and those asked lately; they count
    // as asked. known ascending.
    QVector<quint32> sweepShare(const QVector<quint32> &known, qint64 now);

private:
    qint64 lastAsked(quint32 address) const;
    void forgetOld(qint64 now);

    const QVector<quint32> m_subnet;
    const qint64 m_periodMs;
    const qint64 m_sweptAt;
    qint64 m_sweepStartMs;
    int m_sweepNext = 0;
    // When each address was last asked, of those asked within kRecentMs.
    QHash<quint32, qint64> m_asked;
    // Known devices whose last re-checks went unanswered: how many in a row.
    QHash<quint32, int> m_misses;
};

#endif // WATCHSCHEDULE_H
