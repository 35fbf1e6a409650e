#ifndef NEIGHBOURBUDGET_H
#define NEIGHBOURBUDGET_H

#include <QtGlobal>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <unordered_map>

// The kernel's neighbour table is one table for the whole machine (every namespace counts
// against the same gc_thresh3, 1024 by default), and an address that does not answer stays in
// it, unresolved, for mcast_solicit x retrans_time (3 s by default), long after a sweep has
// given up on it. Unchecked, a sweep of a /22 or wider fills the table and the kernel then drops
// neighbour resolution for every program on the machine ("neighbor table overflow"). So the
// program keeps the resolutions it has started and not yet seen answered within a budget below
// that limit, and waits for room before it starts another.
class NeighbourBudget
{
public:
    using Clock = std::chrono::steady_clock;
    // Names one reservation; stays meaningful after the reservation has expired, so a holder
    // that comes back late (a stopped or starved process) touches nothing that is gone.
    using Token = quint64;

    static NeighbourBudget &instance();
    explicit NeighbourBudget(int capacity);

    // Room for one resolution that the kernel may keep unresolved for lifetimeMs; 0 when stop
    // came first.
    Token acquire(qint64 lifetimeMs, const std::atomic<bool> &stop);
    // The kernel keeps the entry unresolved for a new round of requests.
    void extend(Token token, qint64 lifetimeMs);
    // The neighbour answered: its entry no longer counts as unresolved.
    void release(Token token);

    int inUse();

private:
    void dropExpired(Clock::time_point now);

    std::mutex m_mutex;
    std::condition_variable m_roomFreed;
    std::unordered_map<Token, Clock::time_point> m_pending;
    Token m_lastToken = 0;
    const int m_capacity;
};

#endif // NEIGHBOURBUDGET_H
