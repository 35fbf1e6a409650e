#ifndef DISCOVERYREPORTS_H
#define DISCOVERYREPORTS_H

#include <QString>

// What the discovery service's sweeps and browse tell it, from whichever thread they run in. The
// service passes each on as one of its signals, which may be emitted from any thread; the sweeps
// and the browse know nothing else of it.
class DiscoveryReports
{
public:
    // A host answered a sweep's request for its MAC (address in host byte order).
    virtual void hostAnswered(quint32 address, const QString &macString) = 0;
    // A vendor-looking host heard on the link with an address outside the swept subnet.
    virtual void hostHeardOutside(quint32 address, const QString &macString) = 0;
    // A resolved announcement, or a device the browse saw move to a new address.
    virtual void deviceAnnounced(const QString &ipString, const QString &macString,
                                 const QString &fwString, const QString &nameString)
        = 0;
    // What an earlier announcement said no longer holds: the device moved to another address.
    virtual void announcementWithdrawn(const QString &ipString, const QString &macString) = 0;
    // The device withdrew its announcement (a goodbye, or the daemon removed it).
    virtual void announcementEnded(const QString &ipString, const QString &macString) = 0;
    // The browse cannot run (no DNS-SD library or daemon); message says so to a person.
    virtual void browseFailed(const QString &message) = 0;

protected:
    ~DiscoveryReports() = default;
};

#endif // DISCOVERYREPORTS_H
