#include "heardfilter.h"

HeardFilter::HeardFilter(std::int64_t now)
    : m_rate(RateLimiter::kSecondNs / kPerSecond, kPerSecond, now)
{
}

bool HeardFilter::admit(std::uint32_t address, const ArpFrame::Mac &mac, std::int64_t now)
{
    while (!m_byAge.empty() && m_byAge.front().first <= now - kRepeatAfterNs) {
        m_reported.erase(m_byAge.front().second);
        m_byAge.pop_front();
    }
    std::uint64_t key = 0;
    for (const std::uint8_t byte : mac) {
        key = key << 8 | byte;
    }
    const Pair pair { key, address };
    if (m_reported.count(pair) || !m_rate.take(now)) {
        return false;
    }
    m_reported.insert(pair);
    m_byAge.emplace_back(now, pair);
    return true;
}
