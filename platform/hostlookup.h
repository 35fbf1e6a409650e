#ifndef HOSTLOOKUP_H
#define HOSTLOOKUP_H

#include <QByteArray>
#include <QString>

#include <atomic>

// Forward lookup of a host name through the system's resolver (hosts file, mDNS, DNS).
class HostLookup
{
public:
    // The first IPv4 address of hostName in dotted form, or an empty string when the name does
    // not resolve to an IPv4 address. Blocks for as long as the resolver takes (for an mDNS name
    // that nobody answers, several seconds), unless abandon is given: the call then also returns,
    // empty, within a few tens of milliseconds of abandon becoming true. Safe from any thread.
    static QString firstIpv4(const QByteArray &hostName,
                             const std::atomic<bool> *abandon = nullptr);
};

#endif // HOSTLOOKUP_H
