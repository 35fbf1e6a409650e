#ifndef DEVICEASSEMBLY_H
#define DEVICEASSEMBLY_H

#include "controller/devicestore.h"

#include <QObject>

#include <memory>

class DeviceQueries;

// From the hosts a scan reports to the rows of its devices: the device store admits them, the
// device queries ask each swept device for its name and firmware, and the answers go back to the
// store. Lives in the GUI thread, where the discovery service's reports arrive.
class DeviceAssembly : public QObject
{
    Q_OBJECT
public:
    explicit DeviceAssembly(QObject *parent = nullptr);
    ~DeviceAssembly() override;

    DeviceStore &store() { return m_store; }
    const DeviceStore &store() const { return m_store; }
    // A new scan: the store forgets every device, and the questions of the last scan are
    // dropped, their answers no longer counted. announced: this scan's reports carry firmware
    // and name (mDNS); macFromDevice: their MAC is the device's own answer (the HTTP probe).
    void startScan(bool announced, bool macFromDevice);
    // Whether devices may be asked through a router (a range the user named for the HTTP probe).
    void setRoutedAllowed(bool allowed);
    // Questions still waiting or in flight; settled() when none is left.
    int pendingQueries() const;

    // What the discovery service reported, by a text address it made itself (read once, here)
    // or by number.
    void hostFound(const QString &ipString, const QString &macString, const QString &fwString,
                   const QString &nameString);
    void hostHeardOutside(quint32 address, const QString &macString);
    // A host that answered ARP during a watch (address inside the watched subnet).
    void hostAnswered(quint32 address, const QString &macString);
    void hostWithdrawn(const QString &ipString, const QString &macString);
    // The device answered an echo: it is asked for its MAC address.
    void hostReachable(const QString &ipString);
    // The end of a sweep: the devices still incomplete are shown, and logged.
    void endSweep();

signals:
    void settled();

private:
    void admit(const DeviceStore::Report &report);

    DeviceStore m_store { this };
    std::unique_ptr<DeviceQueries> m_queries;
    bool m_announced = false;
    bool m_macFromDevice = false;
};

#endif // DEVICEASSEMBLY_H
