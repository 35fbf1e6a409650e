#include "sendqueue.h"

SendQueue::Added SendQueue::add(std::uint32_t first, std::uint32_t last, std::uint32_t *culprit)
{
    // Counted when asked for rather than when sent, so that a request beyond the bounds is
    // refused before any frame of it goes out.
    for (std::uint64_t address = first; address <= last; ++address) {
        const auto target = std::uint32_t(address);
        auto found = m_requests.find(target);
        if (found == m_requests.end()) {
            if (m_requests.size() >= kMaxTargets) {
                *culprit = target;
                return Added::TooManyTargets;
            }
            found = m_requests.emplace(target, 0).first;
        }
        if (found->second >= kMaxRequestsPerTarget) {
            *culprit = target;
            return Added::TooManyRequests;
        }
        ++found->second;
    }
    m_ranges.push_back({ first, last });
    return Added::Queued;
}

void SendQueue::pop()
{
    Range &range = m_ranges.front();
    if (range.next == range.last) {
        m_ranges.pop_front();
    } else {
        ++range.next;
    }
}
