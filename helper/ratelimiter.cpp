#include "ratelimiter.h"

#include <algorithm>

RateLimiter::RateLimiter(std::int64_t intervalNs, std::int64_t burst, std::int64_t now)
    : m_interval(intervalNs), m_tolerance((burst - 1) * intervalNs), m_due(now)
{
}

bool RateLimiter::take(std::int64_t now)
{
    if (wait(now) > 0) {
        return false;
    }
    m_due = std::max(m_due, now) + m_interval;
    return true;
}

std::int64_t RateLimiter::wait(std::int64_t now) const
{
    return std::max<std::int64_t>(m_due - m_tolerance - now, 0);
}
