#ifndef PRESENCERULE_H
#define PRESENCERULE_H

#include <QtGlobal>

// When a watched device counts as gone, and when as back: the rule behind every departed and
// returned event, apart from the network and the clock so that it can be checked on a clock of
// the test's own.
//
// A device departs once kUnanswered requests in a row went unanswered and its last answer is at
// least kSilenceMs old: one lost frame, or a device busy for a moment, is no departure. Its next
// answer brings it back. Requests that went unanswered while the watched interface was lost say
// nothing of the device (the outage is ours): whoever keeps the presence does not count them,
// and starts every count over once the interface is back.
namespace PresenceRule {

constexpr int kUnanswered = 3;
constexpr qint64 kSilenceMs = 10000;

struct Presence
{
    qint64 lastAnswerMs = 0; // on a monotonic clock
    int unanswered = 0; // requests since then
    bool departed = false;
};

enum class Change { None, Departed, Returned };

// The device answered (a reply, an announcement) at now.
Change answered(Presence &presence, qint64 now);
// A request to the device ended, at now, without its answer.
Change unanswered(Presence &presence, qint64 now);
// The device said it leaves (an mDNS goodbye): it departs at once.
Change leaves(Presence &presence);
// Counting starts over at now, as if the device had just answered; a departed device stays so.
void restart(Presence &presence, qint64 now);

} // namespace PresenceRule

#endif // PRESENCERULE_H
