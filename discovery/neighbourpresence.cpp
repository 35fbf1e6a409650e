#include "neighbourpresence.h"

#include <algorithm>

namespace NeighbourPresence {

namespace {

// Time for an answer to a request the kernel has just sent; LAN hosts answer within a few ms.
constexpr qint64 kAnswerMarginMs = 250;
// The kernel reports a confirmation's age in ticks of a clock that itself ticks every few ms:
// two reads of one confirmation may differ by more than a tick.
constexpr qint64 kConfirmationSlackMs = 50;

bool isCached(const Start &start)
{
    return start.state == EntryState::Holds;
}

bool isFresh(const Start &start, const Look &look)
{
    if (!isCached(start) || look.echoAnswered || look.knockAnswered) {
        return true;
    }
    // The last confirmation, on the watch's clock, now and when the watch began.
    const qint64 confirmedAt = look.elapsedMs - look.confirmedAgeMs;
    return confirmedAt > -start.confirmedAgeMs + kConfirmationSlackMs;
}

} // namespace

Progress begin(const Start &start, const Timing &timing)
{
    Progress progress;
    progress.rounds = start.state == EntryState::Resolving ? 1 : 0;
    progress.deadlineMs = timing.retransmitMs + kAnswerMarginMs;
    return progress;
}

Decision decide(const Start &start, const Progress &progress, const Look &look,
                const Timing &timing)
{
    Decision decision;
    decision.progress = progress;
    if (look.state == EntryState::Holds && isFresh(start, look)) {
        decision.verdict = Verdict::Answered;
        return decision;
    }
    Progress &next = decision.progress;
    if (isCached(start)) {
        if (!next.knocked) {
            next.knocked = true;
            decision.action = Action::Knock;
        }
    } else if (look.state == EntryState::Resolving) {
        next.rounds = std::max(next.rounds, 1);
    } else if (look.state != EntryState::Holds && next.rounds * timing.requestsPerRound < 2) {
        // Not asked yet, or the kernel's requests went unanswered: one more round, and time for
        // its answer, however late this look comes. A dropped broadcast or a host still booting
        // gets its second chance.
        const qint64 roundMs = next.rounds == 0 ? timing.retransmitMs : 0;
        next.deadlineMs = std::max(next.deadlineMs, look.elapsedMs + roundMs + kAnswerMarginMs);
        ++next.rounds;
        decision.action = Action::AskAgain;
    }
    decision.verdict = look.elapsedMs >= next.deadlineMs ? Verdict::GiveUp : Verdict::Wait;
    return decision;
}

} // namespace NeighbourPresence
