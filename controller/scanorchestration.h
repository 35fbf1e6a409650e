#ifndef SCANORCHESTRATION_H
#define SCANORCHESTRATION_H

#include "controller/controller.h"

#include <QObject>
#include <QPointer>
#include <QString>

class ArpWatch;
class BonjourWinService;
class DeviceAssembly;
class InterfaceInventory;
struct SweepOrigin;

// The Controller's scans, one at a time, from their start to their end: the addresses a sweep
// covers (the interface's subnet or a range the user named), its progress, a stop, and the end,
// with why a sweep ended early. The discovery service sweeps and browses; what it finds goes to
// the device assembly. Lives in the GUI thread.
class ScanOrchestration : public QObject
{
    Q_OBJECT
public:
    ScanOrchestration(BonjourWinService *service, InterfaceInventory &inventory,
                      DeviceAssembly &devices);

    // A scan from ipString, or a watch that begins with one (ARP or mDNS). True when it is a
    // sweep that waits for startSweep; a browse starts at once.
    bool start(const QString &ipString, Controller::ScanType type, bool watch = false);
    // How often an ARP watch sweeps its subnet again.
    void setSweepPeriod(qint64 milliseconds) { m_sweepPeriodMs = milliseconds; }
    void startSweep();
    // Ends a browse, or a sweep inside this call, with its end reported.
    void stop(Controller::ScanType type);
    // Whether the end now reported comes from a stop: the devices a sweep found before then
    // may still wait in the event queue.
    bool takeStop() { return std::exchange(m_stopped, false); }
    // The service's end of a sweep (or of a browse's stop): the devices still incomplete are
    // shown, ended() is emitted, then why the sweep ended early, if it did.
    void end();
    // Percent of the current sweep's addresses done.
    int progress() const;
    void setRange(const QString &cidr) { m_range = cidr; }
    // Whether the kernel has a route to the range ("network/prefix"), through a router or not.
    bool hasRouteTo(const QString &cidr) const;
    QString sweptSubnet() const { return m_sweptSubnet; }

signals:
    void ended();
    void infoMessage(const QString &message);
    void failed(Controller::ScanFailure reason);
    // A watch has begun; it lives until the next scan or stop.
    void watchStarted(ArpWatch *watch);

private:
    void reportEarlyEnd();
    SweepOrigin originOf(const QString &ipString) const;

    const QPointer<BonjourWinService> m_service;
    InterfaceInventory &m_inventory;
    DeviceAssembly &m_devices;
    QString m_currentIp;
    Controller::ScanType m_scanType = Controller::ScanType::Arp;
    int m_totalCount = 0;
    QString m_range;
    QString m_sweptSubnet;
    QString m_arpHelperProblem;
    bool m_interfaceLost = false;
    bool m_stopped = false;
    bool m_watch = false;
    qint64 m_sweepPeriodMs = 60000;
};

#endif // SCANORCHESTRATION_H
