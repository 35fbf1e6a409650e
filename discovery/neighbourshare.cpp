#include "neighbourshare.h"

#include <algorithm>

namespace NeighbourShare {

namespace {

// What a sweep takes of the free room at one look: four sweeps looking at once still fit.
constexpr int kShares = 4;
// Others take room meanwhile: what a look gave is not used long after it.
constexpr qint64 kLookLifeMs = 5 * kLookGapMs;

} // namespace

int room(const Table &table, int held)
{
    const int usable = table.limit - table.limit / 4;
    // An entry of this sweep between two rounds of requests, or not sent yet, is not busy in
    // the table now but will be.
    const int busy = std::max(table.entries - table.reclaimable, held);
    const int free = usable - busy;
    if (free <= 0) {
        return 0;
    }
    return (free + kShares - 1) / kShares;
}

bool lookDue(qint64 sinceLookMs, int roomLeft)
{
    if (sinceLookMs < 0) {
        return true;
    }
    return sinceLookMs >= (roomLeft > 0 ? kLookLifeMs : kLookGapMs);
}

} // namespace NeighbourShare
