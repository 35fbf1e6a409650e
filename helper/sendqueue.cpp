#include "sendqueue.h"

#include <algorithm>

unsigned SendQueue::requestsWith(const Target &target, std::int64_t now)
{
    const auto recent = std::count_if(target.sentAt.begin(), target.sentAt.end(),
                                      [now](std::int64_t at) { return at > now - kWindowNs; });
    return unsigned(recent) + target.queued + 1;
}

SendQueue::Added SendQueue::add(std::uint32_t first, std::uint32_t last, std::int64_t now,
                                std::uint32_t *culprit)
{
    // Every address is checked before any is counted, so that a refused request leaves nothing
    // behind.
    std::size_t newTargets = 0;
    for (std::uint64_t address = first; address <= last; ++address) {
        const auto found = m_targets.find(std::uint32_t(address));
        if (found == m_targets.end() && m_targets.size() + ++newTargets > kMaxTargets) {
            *culprit = std::uint32_t(address);
            return Added::TooManyTargets;
        }
        if (found != m_targets.end() && requestsWith(found->second, now) > kMaxRequests) {
            *culprit = std::uint32_t(address);
            return Added::TooManyRequests;
        }
    }
    for (std::uint64_t address = first; address <= last; ++address) {
        ++m_targets[std::uint32_t(address)].queued;
    }
    m_ranges.push_back({ first, last });
    return Added::Queued;
}

void SendQueue::pop(std::int64_t now)
{
    Target &target = m_targets[front()];
    --target.queued;
    std::rotate(target.sentAt.begin(), target.sentAt.begin() + 1, target.sentAt.end());
    target.sentAt.back() = now;
    target.answerCount = 0;
    Range &range = m_ranges.front();
    if (range.next == range.last) {
        m_ranges.pop_front();
    } else {
        ++range.next;
    }
}

SendQueue::Answer SendQueue::answerFrom(std::uint32_t address, const ArpFrame::Mac &mac,
                                        std::int64_t now)
{
    const auto found = m_targets.find(address);
    if (found == m_targets.end() || found->second.sentAt.back() <= now - kWindowNs) {
        return Answer::NotOurs;
    }
    Target &target = found->second;
    const auto answered = target.answers.begin() + target.answerCount;
    if (target.answerCount == kMaxAnswers
        || std::find(target.answers.begin(), answered, mac) != answered) {
        return Answer::Repeated;
    }
    target.answers[target.answerCount++] = mac;
    return Answer::New;
}
