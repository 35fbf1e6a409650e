#include "ratelimiter.h"

namespace {

constexpr std::int64_t kSecond = 1000000000;

} // namespace

RateLimiter::RateLimiter(std::uint32_t perSecond, std::int64_t now)
{
    setRate(perSecond);
    m_last = now - m_interval; // the first frame may go at once
}

void RateLimiter::setRate(std::uint32_t perSecond)
{
    // Rounded up, so that the rate is never exceeded by a rounding error.
    m_interval = (kSecond + perSecond - 1) / perSecond;
}

bool RateLimiter::take(std::int64_t now)
{
    if (now - m_last < m_interval) {
        return false;
    }
    m_last = now;
    return true;
}

std::int64_t RateLimiter::wait(std::int64_t now) const
{
    const std::int64_t left = m_interval - (now - m_last);
    return left > 0 ? left : 0;
}
