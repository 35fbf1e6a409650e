#ifndef HOSTLOOKUP_H
#define HOSTLOOKUP_H

#include <QByteArray>
#include <QString>

// Forward lookup of a host name through the system's resolver (hosts file, mDNS, DNS).
class HostLookup
{
public:
    // The first IPv4 address of hostName in dotted form, or an empty string when the name does
    // not resolve to an IPv4 address. Blocks for as long as the resolver takes; safe to call
    // from any thread.
    static QString firstIpv4(const QByteArray &hostName);
};

#endif // HOSTLOOKUP_H
