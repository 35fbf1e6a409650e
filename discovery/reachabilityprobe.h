#ifndef REACHABILITYPROBE_H
#define REACHABILITYPROBE_H

#include <QtGlobal>

// The ICMP echo a sweep sends before it asks for an address's MAC, and pingIP's probe.
namespace ReachabilityProbe {

// One echo to address (host byte order), true when it was answered in time; with an interface
// index, sent through that interface or not at all. Only a single host's address is probed.
bool echo(quint32 address, int interfaceIndex = 0);

} // namespace ReachabilityProbe

#endif // REACHABILITYPROBE_H
