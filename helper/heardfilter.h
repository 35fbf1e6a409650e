#ifndef HEARDFILTER_H
#define HEARDFILTER_H

#include "arpframe.h"
#include "ratelimiter.h"

#include <cstdint>
#include <deque>
#include <set>
#include <utility>

// Which frames heard on the link, other than answers to our own requests, are reported: a pair
// (address, MAC) once per kRepeatAfterNs, so that a host repeating itself costs one line now and
// then and one that comes back is heard again, and at most kPerSecond new lines a second. A flood
// of made-up senders thus costs at most that rate in lines, and in memory the pairs of the last
// kRepeatAfterNs. Answers to our requests never pass through here: no flood can push them out.
class HeardFilter
{
public:
    static constexpr std::int64_t kPerSecond = 100;
    static constexpr std::int64_t kRepeatAfterNs = 10000000000;

    explicit HeardFilter(std::int64_t now);
    // True when this pair is to be reported now; then it is remembered.
    bool admit(std::uint32_t address, const ArpFrame::Mac &mac, std::int64_t now);

private:
    using Pair = std::pair<std::uint64_t, std::uint32_t>; // (MAC, address)

    RateLimiter m_rate;
    std::set<Pair> m_reported;
    std::deque<std::pair<std::int64_t, Pair>> m_byAge; // when each was reported, oldest first
};

#endif // HEARDFILTER_H
