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

ResolveQueue::Added ResolveQueue::add(const Instance &instance)
{
    const QByteArray key = keyOf(instance);
    if (m_known.contains(key)) {
        return Added::AlreadyKnown;
    }
    if (waiting() >= m_maxWaiting) {
        drop(m_waiting.begin());
    }
    m_known.insert(key);
    m_waiting.push_back(instance);
    return Added::Waiting;
}

void ResolveQueue::drop(std::deque<Instance>::iterator waiting)
{
    const QByteArray key = keyOf(*waiting);
    m_known.remove(key);
    m_attempts.remove(key);
    m_waiting.erase(waiting);
}

bool ResolveQueue::takeNext(Instance *next, qint64 now)
{
    if (m_running.size() >= m_maxRunning) {
        return false;
    }
    if (!m_waiting.empty()) {
        *next = m_waiting.back();
        m_waiting.pop_back();
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
    const auto waiting = std::find_if(m_waiting.begin(), m_waiting.end(),
                                      [&](const Instance &item) { return keyOf(item) == key; });
    if (waiting != m_waiting.end()) {
        m_waiting.erase(waiting);
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
