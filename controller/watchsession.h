#ifndef WATCHSESSION_H
#define WATCHSESSION_H

#include "base/devicerow.h"
#include "base/watchevent.h"
#include "controller/controller.h"

#include <QObject>
#include <QPointer>
#include <QTimer>

class ArpWatch;
class BonjourWinService;
class DeviceAssembly;
class InterfaceInventory;
class ScanOrchestration;

// A watch, from its start to its end: the first scan (a sweep, or the first seconds of the
// browse), then the live watch of the discovery service, whose findings go to the device store.
// The store tells what happens to each device; this adds the watched interface's outages and the
// end, with why. Lives in the GUI thread.
class WatchSession : public QObject
{
    Q_OBJECT
public:
    // How long the mDNS watch's first scan browses before what is announced counts as new: an
    // mDNS scan's default time.
    static constexpr int kFirstBrowseMs = 3000;
    // How long a goodbye the device store holds (one that may be the daemon's late withdrawal
    // of an outage) waits for the device's announcement that shows it was not one.
    static constexpr int kHeldGoodbyeMs = 15000;

    WatchSession(BonjourWinService *service, ScanOrchestration &scans, DeviceAssembly &devices,
                 const InterfaceInventory &inventory);

    // A watch from ipString by ARP or mDNS; Http Download has none (false, and infoMessage
    // says so). True when its first scan is a sweep that waits for the scan orchestration's
    // startSweep.
    bool start(const QString &ipString, Controller::ScanType type);
    // Ends the watch, if one runs: End::Stopped.
    void stop();
    bool isWatching() const { return m_watching; }

signals:
    // detail: for the interface's events its name, for the end why it ended; else empty.
    void event(Watch::Event event, const DeviceRow &row, const QString &detail);
    // The same for QML: the event's name, the row, and its note or the detail.
    void eventText(QString eventString, QString ipString, QString macString, QString fwString,
                   QString nameString, QString noteString);
    void ended(Watch::End reason, const QString &message);
    void infoMessage(const QString &message);

private:
    void follow(ArpWatch *watch);
    void onLink(bool lost);
    void end(Watch::End reason, const QString &message);
    void tell(Watch::Event kind, const DeviceRow &row, const QString &detail);

    ScanOrchestration &m_scans;
    DeviceAssembly &m_devices;
    const InterfaceInventory &m_inventory;
    Controller::ScanType m_type = Controller::ScanType::Arp;
    QString m_ip;
    bool m_watching = false;
    QPointer<ArpWatch> m_arp;
    QTimer m_firstBrowse;
};

#endif // WATCHSESSION_H
