#ifndef SENDQUEUE_H
#define SENDQUEUE_H

#include <cstddef>
#include <cstdint>
#include <deque>
#include <unordered_map>

// The addresses still to be asked, kept as the ranges they were requested in so that a line of
// input costs a few bytes however wide its range, and the per-run bounds on what may be asked at
// all: the helper asks only a bounded number of hosts, each a few times, whoever drives it.
class SendQueue
{
public:
    static constexpr std::size_t kMaxTargets = 65536;
    static constexpr unsigned kMaxRequestsPerTarget = 3;
    // Beyond this many ranges the helper stops reading requests until some are sent.
    static constexpr std::size_t kLongQueue = 1024;

    enum class Added { Queued, TooManyTargets, TooManyRequests };

    // first <= last, host byte order. On refusal *culprit is the address that broke the bound,
    // and the queue must not be used further.
    Added add(std::uint32_t first, std::uint32_t last, std::uint32_t *culprit);
    bool isEmpty() const { return m_ranges.empty(); }
    bool isLong() const { return m_ranges.size() >= kLongQueue; }
    std::uint32_t front() const { return m_ranges.front().next; }
    void pop();

private:
    struct Range
    {
        std::uint32_t next;
        std::uint32_t last;
    };

    std::deque<Range> m_ranges;
    std::unordered_map<std::uint32_t, std::uint8_t> m_requests; // per target, this run
};

#endif // SENDQUEUE_H
