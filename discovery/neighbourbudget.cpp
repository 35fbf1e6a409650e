#include "neighbourbudget.h"

#include "platform/neighbourtable.h"

#include <algorithm>

namespace {

constexpr int kStopCheckMs = 20;

} // namespace

NeighbourBudget &NeighbourBudget::instance()
{
    // Only unresolved entries are beyond the kernel's reach (it reclaims failed and idle ones as
    // soon as the table is full), so the quarter left is for what others resolve meanwhile.
    static NeighbourBudget budget(NeighbourTable::tableLimit() * 3 / 4);
    return budget;
}

NeighbourBudget::NeighbourBudget(int capacity) : m_capacity(std::max(1, capacity)) { }

void NeighbourBudget::dropExpired(Clock::time_point now)
{
    for (auto it = m_pending.begin(); it != m_pending.end();) {
        it = it->second <= now ? m_pending.erase(it) : std::next(it);
    }
}

NeighbourBudget::Token NeighbourBudget::acquire(qint64 lifetimeMs, const std::atomic<bool> &stop)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        const Clock::time_point now = Clock::now();
        dropExpired(now);
        if (int(m_pending.size()) < m_capacity) {
            const Token token = ++m_lastToken;
            m_pending.emplace(token, now + std::chrono::milliseconds(lifetimeMs));
            return token;
        }
        if (stop.load(std::memory_order_relaxed)) {
            return 0;
        }
        Clock::time_point until = now + std::chrono::milliseconds(kStopCheckMs);
        for (const auto &entry : m_pending) {
            until = std::min(until, entry.second);
        }
        m_roomFreed.wait_until(lock, until);
    }
}

void NeighbourBudget::extend(Token token, qint64 lifetimeMs)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_pending.find(token);
    const Clock::time_point until = Clock::now() + std::chrono::milliseconds(lifetimeMs);
    if (it != m_pending.end()) {
        it->second = std::max(it->second, until);
    } else if (token != 0) {
        // Expired meanwhile, but the kernel holds a new unresolved entry now: count it again.
        m_pending.emplace(token, until);
    }
}

void NeighbourBudget::release(Token token)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pending.erase(token);
    }
    m_roomFreed.notify_one();
}

int NeighbourBudget::inUse()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    dropExpired(Clock::now());
    return int(m_pending.size());
}
