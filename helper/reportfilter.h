#ifndef REPORTFILTER_H
#define REPORTFILTER_H

#include "arpframe.h"

#include <cstddef>
#include <cstdint>
#include <set>
#include <utility>

// Which (address, MAC) pairs were reported already, per kind, so that a host repeating itself,
// or a flood of made-up senders, costs at most one line per pair and a bounded amount of memory.
class ReportFilter
{
public:
    static constexpr std::size_t kMaxPairs = 131072;

    // True the first time this kind, address and MAC come, while there is room for new pairs.
    bool isNew(ArpFrame::Kind kind, std::uint32_t address, const ArpFrame::Mac &mac);

private:
    std::set<std::pair<std::uint64_t, std::uint32_t>> m_seen; // (MAC << 8 | kind, address)
};

#endif // REPORTFILTER_H
