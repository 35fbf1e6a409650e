#ifndef NEIGHBOURBUDGET_H
#define NEIGHBOURBUDGET_H

#include "discovery/neighbourshare.h"

#include <QtGlobal>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <unordered_map>

// The kernel's neighbour table is one table for the whole machine (every namespace counts
// against the same gc_thresh3, 1024 by default), and an address that does not answer stays in
// it, unresolved, for mcast_solicit x retrans_time (3 s by default), long after a sweep has
// given up on it. Unchecked, a sweep of a /22 or wider fills the table and the kernel then drops
// neighbour resolution for every program on the machine ("neighbor table overflow"), however
// carefully each sweep counts its own entries. So the workers of the process start a resolution
// only within the room NeighbourShare gives them at their latest look at the table, one look at
// a time for all of them. It also keeps the resolutions started and not yet seen answered, and
// tells whether the kernel refused entries meanwhile: a silence then proves nothing.
class NeighbourBudget
{
public:
    using Clock = std::chrono::steady_clock;
    // Names one reservation; stays meaningful after the reservation has expired, so a holder
    // that comes back late (a stopped or starved process) touches nothing that is gone.
    using Token = quint64;

    struct Look
    {
        bool read = false; // false: the kernel could not be asked
        NeighbourShare::Table table;
        quint64 refusals = 0; // entries the kernel has refused so far (its table_fulls)
    };
    using Looker = std::function<Look()>;

    // The process's budget, looking at the machine's table.
    static NeighbourBudget &instance();
    explicit NeighbourBudget(Looker looker);

    // Room for one resolution that the kernel may keep unresolved for lifetimeMs; 0 when stop
    // came first.
    Token acquire(qint64 lifetimeMs, const std::atomic<bool> &stop);
    // The kernel keeps the entry unresolved for a new round of requests.
    void extend(Token token, qint64 lifetimeMs);
    // The neighbour answered: its entry no longer counts as unresolved.
    void release(Token token);
    int inUse();

    // Where the kernel's refusals stood at a recent look (looks again if the latest is old), and
    // how many looks there were; a watch notes both before it sends anything.
    struct Mark
    {
        quint64 refusals = 0;
        quint64 looks = 0;
    };
    Mark mark();
    // Whether the kernel refused an entry since refusals were noted, by a look taken after the
    // given look; no answer until there is one (this call looks itself when the gap allows). A
    // look that failed counts as a refusal: nothing shows that there was none.
    std::optional<bool> refusedSince(quint64 refusals, quint64 afterLook);

private:
    void dropExpired(Clock::time_point now);
    // Looks when NeighbourShare says it is time, with roomLeft counted as unused room.
    void lookIfDue(int roomLeft);
    void look();

    std::mutex m_mutex;
    std::condition_variable m_roomGiven;
    std::unordered_map<Token, Clock::time_point> m_pending;
    Token m_lastToken = 0;
    const Looker m_looker;
    int m_room = 0;
    quint64 m_looks = 0;
    Clock::time_point m_lastLook; // meaningful once m_looks > 0
    bool m_lastLookRead = false;
    quint64 m_refusals = 0;
};

#endif // NEIGHBOURBUDGET_H
