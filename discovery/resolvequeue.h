#ifndef RESOLVEQUEUE_H
#define RESOLVEQUEUE_H

#include <QByteArray>
#include <QHash>
#include <QSet>

#include <climits>
#include <cstdint>
#include <deque>

// Which announced instances to resolve, and when. Anyone on the link can announce instances, and
// each resolve costs the DNS-SD library resources of its own (with Avahi a thread and a D-Bus
// connection), so only a few run at a time, the rest wait in a bounded line, and an instance is
// never waiting or running twice.
//
// The newest instance is resolved first: a flood of announcers whose hosts never answer must not
// hold up a device announced after it. A full line drops its oldest instance. An instance whose
// resolve gave no address in time is tried again later, kFirstRetryMs after, then each time
// twice as long up to kLongestRetryMs: a host that answers late still gets its row, and one that
// never answers costs a slot now and then. Retries take at most half the slots, and only when no
// new instance waits. An instance that was resolved to an address before and is announced again
// (the daemon withdraws and announces again every instance after an outage) goes before the
// others: a flood, announced again with it, must not hold up a device that is known to answer.
// Times are monotonic milliseconds from the caller.
class ResolveQueue
{
public:
    static constexpr qint64 kFirstRetryMs = 15000;
    static constexpr qint64 kLongestRetryMs = 600000;

    struct Instance
    {
        uint32_t interfaceIndex = 0;
        QByteArray name;
        QByteArray type;
        QByteArray domain;
    };

    enum class Added { Waiting, AlreadyKnown };

    ResolveQueue(int maxRunning, int maxWaiting);

    Added add(const Instance &instance, bool resolvedBefore = false);
    // Moves the next instance due to the running ones, if a slot is free for it.
    bool takeNext(Instance *next, qint64 now);
    // A running resolve has ended with an address, or for good; the instance may be announced
    // again.
    void finished(const Instance &instance);
    // A running resolve has ended without an address: the instance is tried again later.
    void retryLater(const Instance &instance, qint64 now);
    // The instance was withdrawn: it is not resolved, nor tried again.
    void forget(const Instance &instance);
    // When the next retry falls due; LLONG_MAX when none waits.
    qint64 nextRetryAt() const;

    int waiting() const { return int(m_waiting.size() + m_returning.size()); }
    // The instances waiting, running or to be tried again, by key.
    const QSet<QByteArray> &known() const { return m_known; }

    // One instance's name, type and domain as one key, the same for every interface.
    static QByteArray keyOf(const Instance &instance);

private:
    struct Retry
    {
        Instance instance;
        qint64 dueMs;
    };

    void drop(std::deque<Instance> &line, std::deque<Instance>::iterator waiting);

    const int m_maxRunning;
    const int m_maxWaiting;
    std::deque<Instance> m_waiting; // oldest first; the newest is taken first
    std::deque<Instance> m_returning; // resolved before: taken before m_waiting
    std::deque<Retry> m_retries; // in the order they fall due
    QSet<QByteArray> m_running;
    // Waiting, running and to be tried again, by name: one device heard on two interfaces needs
    // one resolve.
    QSet<QByteArray> m_known;
    // Resolves that gave no address, by key, while the instance is known.
    QHash<QByteArray, int> m_attempts;
};

#endif // RESOLVEQUEUE_H
