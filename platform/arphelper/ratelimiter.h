#ifndef RATELIMITER_H
#define RATELIMITER_H

#include <cstdint>

// A token bucket one frame deep: a frame may go once a full interval has passed since the last
// one. Time lost to a late wake-up is not made up with a burst afterwards, so no second ever
// holds more than the rate's frames, however busy the machine. Times are monotonic nanoseconds
// from the caller.
class RateLimiter
{
public:
    RateLimiter(std::uint32_t perSecond, std::int64_t now);
    // perSecond >= 1.
    void setRate(std::uint32_t perSecond);
    // True, and the token spent, when a frame may go now.
    bool take(std::int64_t now);
    // Nanoseconds until take() would succeed.
    std::int64_t wait(std::int64_t now) const;

private:
    std::int64_t m_interval = 0;
    std::int64_t m_last = 0;
};

#endif // RATELIMITER_H
