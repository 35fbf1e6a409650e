#ifndef SENDQUEUE_H
#define SENDQUEUE_H

#include "arpframe.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <unordered_map>

// The addresses still to be asked, kept as the ranges they were requested in so that a line of
// input costs a few bytes however wide its range, and what was asked of each address this run:
// the bounds on asking, whoever drives the helper, and which answers are answers to us.
//
// Bounds: at most kMaxTargets distinct addresses a run, and at most kMaxRequests requests to one
// address in any kWindowNs. A request is refused, before any frame of it goes out, when the
// requests to one of its addresses sent within kWindowNs before now, those still queued and this
// one would be more than kMaxRequests; since the queue only delays, that keeps the bound for
// the frames as they are sent. A watch asking a known device every few seconds fits, where a
// bound per run would have let it ask three times in its life.
//
// An answer is a reply from an address asked within kWindowNs; each request to it makes room for
// kMaxAnswers MACs (two devices on one address are two answers), each reported once. Times are
// monotonic nanoseconds from the caller.
class SendQueue
{
public:
    static constexpr std::size_t kMaxTargets = 65536;
    static constexpr unsigned kMaxRequests = 3;
    static constexpr std::int64_t kWindowNs = 10000000000;
    static constexpr std::size_t kMaxAnswers = 4;
    // Beyond this many ranges the helper stops reading requests until some are sent.
    static constexpr std::size_t kLongQueue = 1024;

    enum class Added { Queued, TooManyTargets, TooManyRequests };
    enum class Answer {
        NotOurs, // its sender was not asked within the window
        New, // to be reported
        Repeated // reported since the last request already, or no room left for it
    };

    // first <= last, host byte order. On refusal *culprit is the address that broke the bound,
    // and nothing was queued.
    Added add(std::uint32_t first, std::uint32_t last, std::int64_t now, std::uint32_t *culprit);
    bool isEmpty() const { return m_ranges.empty(); }
    bool isLong() const { return m_ranges.size() >= kLongQueue; }
    std::uint32_t front() const { return m_ranges.front().next; }
    // The front address was sent at now.
    void pop(std::int64_t now);
    // What a reply from address with mac, to our MAC and source address, is to us.
    Answer answerFrom(std::uint32_t address, const ArpFrame::Mac &mac, std::int64_t now);

private:
    struct Range
    {
        std::uint32_t next;
        std::uint32_t last;
    };
    struct Target
    {
        // The last kMaxRequests requests sent, oldest first; long past until sent.
        std::array<std::int64_t, kMaxRequests> sentAt { INT64_MIN, INT64_MIN, INT64_MIN };
        std::uint8_t queued = 0;
        std::uint8_t answerCount = 0;
        std::array<ArpFrame::Mac, kMaxAnswers> answers {};
    };

    // How many requests to target would lie within the window, with one more.
    static unsigned requestsWith(const Target &target, std::int64_t now);

    std::deque<Range> m_ranges;
    std::unordered_map<std::uint32_t, Target> m_targets;
};

#endif // SENDQUEUE_H
