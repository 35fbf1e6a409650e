#include "neighbourbudget.h"

#include "platform/neighbourcensus.h"

#include <algorithm>

namespace {

constexpr int kStopCheckMs = 20;
constexpr std::chrono::milliseconds kLookGap(NeighbourShare::kLookGapMs);
// Where the table cannot be read: the kernel's default limit, and only what this process holds.
constexpr int kDefaultLimit = 1024;

} // namespace

NeighbourBudget &NeighbourBudget::instance()
{
    // Used only under the budget's lock.
    static NeighbourCensus census;
    static NeighbourBudget budget([] {
        const NeighbourCensus::Count count = census.read();
        return Look { count.read,
                      { count.limit, count.entries, count.reclaimable },
                      count.tableFulls };
    });
    return budget;
}

NeighbourBudget::NeighbourBudget(Looker looker) : m_looker(std::move(looker)) { }

void NeighbourBudget::dropExpired(Clock::time_point now)
{
    for (auto it = m_pending.begin(); it != m_pending.end();) {
        it = it->second <= now ? m_pending.erase(it) : std::next(it);
    }
}

void NeighbourBudget::look()
{
    const Look seen = m_looker();
    ++m_looks;
    m_lastLook = Clock::now();
    m_lastLookRead = seen.read;
    NeighbourShare::Table table { kDefaultLimit, 0, 0 };
    if (seen.read) {
        table = seen.table;
        m_refusals = seen.refusals;
    }
    dropExpired(m_lastLook);
    m_room = NeighbourShare::room(table, int(m_pending.size()));
    if (m_room > 0) {
        m_roomGiven.notify_all();
    }
}

void NeighbourBudget::lookIfDue(int roomLeft)
{
    const qint64 sinceLookMs = m_looks == 0
        ? -1
        : std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - m_lastLook).count();
    if (NeighbourShare::lookDue(sinceLookMs, roomLeft)) {
        look();
    }
}

NeighbourBudget::Token NeighbourBudget::acquire(qint64 lifetimeMs, const std::atomic<bool> &stop)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        lookIfDue(m_room);
        const Clock::time_point now = Clock::now();
        if (m_room > 0) {
            --m_room;
            const Token token = ++m_lastToken;
            m_pending.emplace(token, now + std::chrono::milliseconds(lifetimeMs));
            return token;
        }
        if (stop.load(std::memory_order_relaxed)) {
            return 0;
        }
        m_roomGiven.wait_until(
            lock, std::min(m_lastLook + kLookGap, now + std::chrono::milliseconds(kStopCheckMs)));
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
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pending.erase(token);
}

int NeighbourBudget::inUse()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    dropExpired(Clock::now());
    return int(m_pending.size());
}

NeighbourBudget::Mark NeighbourBudget::mark()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    // An old look would blame this watch for refusals long past.
    lookIfDue(1);
    return { m_refusals, m_looks };
}

std::optional<bool> NeighbourBudget::refusedSince(quint64 refusals, quint64 afterLook)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_looks <= afterLook) {
        lookIfDue(0);
    }
    if (m_looks <= afterLook) {
        return std::nullopt;
    }
    return !m_lastLookRead || m_refusals > refusals;
}
