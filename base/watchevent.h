#ifndef WATCHEVENT_H
#define WATCHEVENT_H

#include <QObject>
#include <QString>

// What a watch tells, one event at a time, as the window, the command line and a script read it.
namespace Watch {
Q_NAMESPACE

enum class Event {
    Present, // found by the watch's first scan
    Appeared, // new since then
    Changed, // its firmware, name or address changed (a known MAC at a new address)
    Conflict, // a second MAC answers for an address that has a device
    Departed, // it stopped answering, or said goodbye
    Returned, // it answers again
    InterfaceLost, // the watched interface went down or lost its address
    InterfaceBack, // it came back as it was
    End // the watch is over; End says why
};
Q_ENUM_NS(Event)

enum class End {
    Stopped, // the user, a signal or the time given to it
    Readdressed, // the interface came back with another address
    HelperGone, // the ARP helper kept failing
    Failed // the first scan could not run
};
Q_ENUM_NS(End)

// "present", "appeared", "changed", "conflict", "departed", "returned", "interface-lost",
// "interface-back", "end": the event's name in every output.
QString eventName(Event event);
// "stopped", "readdressed", "helper-gone", "failed".
QString endName(End end);

} // namespace Watch

#endif // WATCHEVENT_H
