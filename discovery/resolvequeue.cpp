#include "resolvequeue.h"

#include <algorithm>

ResolveQueue::ResolveQueue(int maxRunning, int maxWaiting)
    : m_maxRunning(maxRunning), m_maxWaiting(maxWaiting)
{
}

QByteArray ResolveQueue::keyOf(const Instance &instance)
{
    // The parts are C strings from the library, so a NUL cannot occur inside one.
    return instance.name + '\0' + instance.type + '\0' + instance.domain;
}

ResolveQueue::Added ResolveQueue::add(const Instance &instance, bool resolvedBefore)
{
    const QByteArray key = keyOf(instance);
    if (m_known.contains(key)) {
        return Added::AlreadyKnown;
    }
    if (waiting() >= m_maxWaiting) {
        std::deque<Instance> &line = m_waiting.empty() ? m_returning : m_waiting;
        drop(line, line.begin());
    }
    m_known.insert(key);
    (resolvedBefore ? m_returning : m_waiting).push_back(instance);
    return Added::Waiting;
}

void ResolveQueue::drop(std::deque<Instance> &line, std::deque<Instance>::iterator waiting)
{
    const QByteArray key = keyOf(*waiting);
    m_known.remove(key);
    m_attempts.remove(key);
    line.erase(waiting);
}

bool ResolveQueue::takeNext(Instance *next, qint64 now)
{
    if (m_running.size() >= m_maxRunning) {
        return false;
    }
    if (std::deque<Instance> &line = m_returning.empty() ? m_waiting : m_returning; !line.empty()) {
        *next = line.back();
        line.pop_back();
    } else if (!m_retries.empty() && m_retries.front().dueMs <= now
               && m_running.size() < m_maxRunning / 2) {
        *next = m_retries.front().instance;
        m_retries.pop_front();
    } else {
        return false;
    }
    m_running.insert(keyOf(*next));
    return true;
}

void ResolveQueue::finished(const Instance &instance)
{
    const QByteArray key = keyOf(instance);
    if (m_running.remove(key)) {
        m_known.remove(key);
        m_attempts.remove(key);
    }
}

void ResolveQueue::retryLater(const Instance &instance, qint64 now)
{
    const QByteArray key = keyOf(instance);
    if (!m_running.remove(key) || !m_known.contains(key)) {
        return; // forgotten meanwhile
    }
    if (int(m_retries.size()) >= m_maxWaiting) {
        m_known.remove(key);
        m_attempts.remove(key);
        return;
    }
    const int attempts = ++m_attempts[key];
    const qint64 delay = std::min(kLongestRetryMs, kFirstRetryMs << std::min(attempts - 1, 20));
    const Retry retry { instance, now + delay };
    const auto later
        = std::upper_bound(m_retries.begin(), m_retries.end(), retry.dueMs,
                           [](qint64 due, const Retry &queued) { return due < queued.dueMs; });
    m_retries.insert(later, retry);
}

void ResolveQueue::forget(const Instance &instance)
{
    const QByteArray key = keyOf(instance);
    m_known.remove(key);
    m_attempts.remove(key);
    for (std::deque<Instance> *line : { &m_waiting, &m_returning }) {
        line->erase(std::remove_if(line->begin(), line->end(),
                                   [&](const Instance &item) { return keyOf(item) == key; }),
                    line->end());
    }
    m_retries.erase(
        std::remove_if(m_retries.begin(), m_retries.end(),
                       [&](const Retry &retry) { return keyOf(retry.instance) == key; }),
        m_retries.end());
}

qint64 ResolveQueue::nextRetryAt() const
{
    return m_retries.empty() ? LLONG_MAX : m_retries.front().dueMs;
}
