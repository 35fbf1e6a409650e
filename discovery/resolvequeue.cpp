#include "resolvequeue.h"

ResolveQueue::ResolveQueue(int maxRunning, int maxWaiting)
    : m_maxRunning(maxRunning), m_maxWaiting(maxWaiting)
{
}

QByteArray ResolveQueue::keyOf(const Instance &instance)
{
    // The parts are C strings from the library, so a NUL cannot occur inside one.
    return instance.name + '\0' + instance.type + '\0' + instance.domain;
}

ResolveQueue::Added ResolveQueue::add(const Instance &instance)
{
    const QByteArray key = keyOf(instance);
    if (m_known.contains(key)) {
        return Added::AlreadyKnown;
    }
    if (waiting() >= m_maxWaiting) {
        return Added::QueueFull;
    }
    m_known.insert(key);
    m_waiting.push_back(instance);
    return Added::Waiting;
}

bool ResolveQueue::takeNext(Instance *next)
{
    if (m_running >= m_maxRunning || m_waiting.empty()) {
        return false;
    }
    *next = m_waiting.front();
    m_waiting.pop_front();
    ++m_running;
    return true;
}

void ResolveQueue::finished(const Instance &instance)
{
    if (m_known.remove(keyOf(instance))) {
        --m_running;
    }
}
