#ifndef RATELIMITER_H
#define RATELIMITER_H

#include <cstdint>
#include <deque>

// Paces frames at a rate per second: evenly spaced as a token bucket would, with a few frames of
// catch-up after a late wake-up so that a busy machine still reaches the rate, and never more
// than the rate's frames in any one second (with a little to spare), whatever the wake-ups did.
// Times are monotonic nanoseconds from the caller.
class RateLimiter
{
public:
    // Frames the bucket holds: how far a late sender may catch up at once.
    static constexpr std::int64_t kBurst = 8;

    RateLimiter(std::uint32_t perSecond, std::int64_t now);
    // perSecond >= 1.
    void setRate(std::uint32_t perSecond);
    // True, and the frame counted, when one may go now.
    bool take(std::int64_t now);
    // Nanoseconds until take() would succeed.
    std::int64_t wait(std::int64_t now) const;

private:
    std::uint32_t m_rate = 1;
    std::int64_t m_interval = 0;
    std::int64_t m_due = 0; // when the next frame is due if none is late
    std::deque<std::int64_t> m_recent; // when the last m_rate frames went
};

#endif // RATELIMITER_H
