#ifndef NEIGHBOURPRESENCE_H
#define NEIGHBOURPRESENCE_H

#include <QtGlobal>

// When a neighbour of the ARP sweep counts as present: the rule behind every row of the kernel
// path, apart from the netlink reads so that it can be checked without root.
//
// A row means the host answered during this scan. An entry the kernel already held when the
// watch began ("cached": an encoder unplugged a minute ago still has one, for minutes) is not an
// answer by itself. It counts only with a fresh sign: an echo reply, a confirmation that the
// kernel records after the watch began, or an answer to a knock. An address without a usable
// entry counts once the kernel resolves it now. An address that stays silent gets a second round
// of requests, and time for its answer, before it is given up.
namespace NeighbourPresence {

enum class EntryState { Missing, Resolving, Failed, Holds };

struct Timing
{
    qint64 retransmitMs = 1000; // the kernel's gap between two requests
    int requestsPerRound = 3; // requests of one round of resolution
};

// What the kernel's entry said when the watch began.
struct Start
{
    EntryState state = EntryState::Missing;
    qint64 confirmedAgeMs = 0; // in Holds
};

// What the watch has done so far.
struct Progress
{
    int rounds = 0; // rounds of requests the kernel was asked for
    bool knocked = false;
    qint64 deadlineMs = 0;
};

// One look: the entry now, and what answered since the watch began.
struct Look
{
    EntryState state = EntryState::Missing;
    qint64 confirmedAgeMs = 0; // in Holds
    qint64 elapsedMs = 0; // since the watch began
    bool echoAnswered = false;
    bool knockAnswered = false;
};

enum class Verdict { Answered, Wait, GiveUp };
enum class Action {
    None,
    Knock, // knock at the host (it was cached)
    AskAgain // make the kernel send a round of requests
};

struct Decision
{
    Verdict verdict = Verdict::Wait;
    Action action = Action::None;
    Progress progress;
};

// Where a watch starts: a neighbour the kernel is already resolving has had its first round.
Progress begin(const Start &start, const Timing &timing);
Decision decide(const Start &start, const Progress &progress, const Look &look,
                const Timing &timing);

} // namespace NeighbourPresence

#endif // NEIGHBOURPRESENCE_H
