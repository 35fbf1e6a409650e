#include "reportfilter.h"

bool ReportFilter::isNew(ArpFrame::Kind kind, std::uint32_t address, const ArpFrame::Mac &mac)
{
    std::uint64_t key = 0;
    for (const std::uint8_t byte : mac) {
        key = key << 8 | byte;
    }
    key = key << 8 | std::uint64_t(kind);
    if (m_seen.size() >= kMaxPairs) {
        return false; // reported already, or dropped for want of room
    }
    return m_seen.insert({ key, address }).second;
}
