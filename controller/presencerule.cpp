#include "presencerule.h"

namespace PresenceRule {

Change answered(Presence &presence, qint64 now)
{
    presence.lastAnswerMs = now;
    presence.unanswered = 0;
    if (presence.departed) {
        presence.departed = false;
        return Change::Returned;
    }
    return Change::None;
}

Change unanswered(Presence &presence, qint64 now)
{
    ++presence.unanswered;
    if (!presence.departed && presence.unanswered >= kUnanswered
        && now - presence.lastAnswerMs >= kSilenceMs) {
        presence.departed = true;
        return Change::Departed;
    }
    return Change::None;
}

Change leaves(Presence &presence)
{
    if (presence.departed) {
        return Change::None;
    }
    presence.departed = true;
    return Change::Departed;
}

void restart(Presence &presence, qint64 now)
{
    presence.lastAnswerMs = now;
    presence.unanswered = 0;
}

} // namespace PresenceRule
