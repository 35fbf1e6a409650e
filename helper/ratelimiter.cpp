#include "ratelimiter.h"

#include <algorithm>

namespace {

constexpr std::int64_t kSecond = 1000000000;
// The window the rate is kept in, a hundredth longer than a second: the bridge and the receiving
// host's interrupts delay some frames more than others, which can bring a second's worth closer
// together than they were sent.
constexpr std::int64_t kWindow = kSecond + kSecond / 100;

} // namespace

RateLimiter::RateLimiter(std::uint32_t perSecond, std::int64_t now) : m_due(now)
{
    setRate(perSecond);
}

void RateLimiter::setRate(std::uint32_t perSecond)
{
    m_rate = perSecond;
    // Rounded up, so that the rate is never exceeded by a rounding error.
    m_interval = (kSecond + perSecond - 1) / perSecond;
    while (m_recent.size() > m_rate) {
        m_recent.pop_front();
    }
}

bool RateLimiter::take(std::int64_t now)
{
    if (wait(now) > 0) {
        return false;
    }
    m_due = std::max(m_due, now - (kBurst - 1) * m_interval) + m_interval;
    m_recent.push_back(now);
    if (m_recent.size() > m_rate) {
        m_recent.pop_front();
    }
    return true;
}

std::int64_t RateLimiter::wait(std::int64_t now) const
{
    std::int64_t left = m_due - now;
    // The last m_rate frames must all lie a window back before one more may go.
    if (m_recent.size() == m_rate) {
        left = std::max(left, m_recent.front() + kWindow - now);
    }
    return std::max<std::int64_t>(left, 0);
}
