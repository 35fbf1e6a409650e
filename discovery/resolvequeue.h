#ifndef RESOLVEQUEUE_H
#define RESOLVEQUEUE_H

#include <QByteArray>
#include <QSet>

#include <cstdint>
#include <deque>

// Which announced instances to resolve, and when. Anyone on the link can announce instances, and
// each resolve costs the DNS-SD library resources of its own (with Avahi a thread and a D-Bus
// connection), so only a few run at a time, the rest wait in a bounded line in the order they
// were heard of, and an instance is never waiting or running twice.
class ResolveQueue
{
public:
    struct Instance
    {
        uint32_t interfaceIndex = 0;
        QByteArray name;
        QByteArray type;
        QByteArray domain;
    };

    enum class Added { Waiting, AlreadyKnown, QueueFull };

    ResolveQueue(int maxRunning, int maxWaiting);

    Added add(const Instance &instance);
    // Moves the next waiting instance to the running ones, if a slot is free.
    bool takeNext(Instance *next);
    // A running resolve has ended, answered or not; the instance may be announced again.
    void finished(const Instance &instance);

    int waiting() const { return int(m_waiting.size()); }
    // The instances waiting or running, by key.
    const QSet<QByteArray> &known() const { return m_known; }

    // One instance's name, type and domain as one key, the same for every interface.
    static QByteArray keyOf(const Instance &instance);

private:
    const int m_maxRunning;
    const int m_maxWaiting;
    int m_running = 0;
    std::deque<Instance> m_waiting;
    // Waiting and running, by name: one device heard on two interfaces needs one resolve.
    QSet<QByteArray> m_known;
};

#endif // RESOLVEQUEUE_H
