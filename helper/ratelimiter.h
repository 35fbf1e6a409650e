#ifndef RATELIMITER_H
#define RATELIMITER_H

#include <cstdint>

// Paces events at one per interval, evenly spaced, with up to burst events at once after a pause
// or a late wake-up (a virtual-scheduling token bucket). Whatever the calls, any n events that it
// lets through lie at least (n - burst) intervals apart, first to last; that is the bound the
// constants below are chosen from. Times are monotonic nanoseconds from the caller.
class RateLimiter
{
public:
    static constexpr std::int64_t kSecondNs = 1000000000;

    // The helper's frames: never more than kMaxFramesPerSecond in any second, whatever it is
    // asked. The second is taken a hundredth longer, as the bridge and the receiving host's
    // interrupts can bring frames closer together than they were sent. 2001 frames would span
    // (2001 - kFrameBurst) intervals, longer than that second.
    static constexpr std::int64_t kMaxFramesPerSecond = 2000;
    static constexpr std::int64_t kFrameBurst = 8;
    static constexpr std::int64_t kFrameIntervalNs
        = (kSecondNs + kSecondNs / 100 + (kMaxFramesPerSecond + 1 - kFrameBurst) - 1)
        / (kMaxFramesPerSecond + 1 - kFrameBurst);

    RateLimiter(std::int64_t intervalNs, std::int64_t burst, std::int64_t now);
    // True, and the event counted, when one may happen now.
    bool take(std::int64_t now);
    // Nanoseconds until take() would succeed.
    std::int64_t wait(std::int64_t now) const;

private:
    const std::int64_t m_interval;
    const std::int64_t m_tolerance; // how far ahead of the even schedule an event may be
    std::int64_t m_due; // when the next event is due on the even schedule
};

#endif // RATELIMITER_H
