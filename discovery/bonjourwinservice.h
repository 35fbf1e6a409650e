#ifndef BONJOURWINSERVICE_H
#define BONJOURWINSERVICE_H

#include "discovery/discoveryreports.h"

#include <QObject>
#include <QSharedPointer>
#include <QVector>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

class ARPThread;
class ArpWatch;
class BonjourThread;
class HelperArpSweep;
class SweepState;

// Where a sweep starts from, for the ARP helper and for ranges the user named.
struct SweepOrigin
{
    quint32 source = 0; // the interface address the requests come from
    QString interfaceName; // the interface the ARP helper sends on; empty: no helper
    // Addresses the user named rather than the interface's subnet: for the HTTP probe they may be
    // routed, for ARP they may be another subnet on the link.
    bool namedRange = false;
};

// The discovery service: address sweeps (ARP through the kernel's neighbour table, or an HTTP
// probe) on worker threads, and the mDNS browse (DNS-SD, served by avahi-daemon on Linux) on a
// thread of its own. Every host found is reported through deviceMacFound, emitted by the thread
// that found it.
class BonjourWinService : public QObject, private DiscoveryReports
{
    Q_OBJECT
public:
    // The most workers one sweep runs at once (the HTTP probe runs fewer).
    static constexpr int kMaxSweepThreads = 256;

    explicit BonjourWinService(QObject *parent);
    ~BonjourWinService() override;

    // Addresses in host byte order, ascending. Returns at once; an empty list, or one that is
    // not on a link of this machine, ends at once through the event loop. ARP goes through the
    // helper where the origin names an interface and the helper runs, else through the kernel.
    void startArpScan(QVector<quint32> addresses, bool httpProbe);
    void startArpScan(QVector<quint32> addresses, bool httpProbe, const SweepOrigin &origin);
    // Whether ARP sweeps may use the helper, and where it is (empty: the program's default).
    void setArpHelper(bool use, const QString &path = QString());
    // Whether the last ARP sweep went through the helper.
    bool arpHelperRan() const { return m_arpHelperRan; }
    void stopArpScan();
    // A watch: first the sweep startArpScan runs (its end is reported by arpScanDone), then the
    // live watch, with the helper's session kept open throughout where it runs. The watch is
    // the service's until stopWatch; the caller follows its signals.
    ArpWatch *startArpWatch(QVector<quint32> addresses, const SweepOrigin &origin,
                            qint64 sweepPeriodMs);
    // The browse, with the devices it announces on the subnet asked again by ARP.
    ArpWatch *startMdnsWatch(const QVector<quint32> &subnet, const SweepOrigin &origin);
    // Ends a watch, its sweep and its browse; no signal follows.
    void stopWatch();
    int remainingCount() const;
    // Addresses of the current or last sweep that could not be checked at all.
    int sweepFailures() const;
    bool pingIP(QString ipString, bool report);
    void startDiscover();
    void stopDiscover();
    // Instances the current or last browse heard of that gave no address to report; once the
    // browse has stopped, those still resolving then are counted too. Safe from any thread.
    int unresolvedInstances() const { return m_unresolved.load(std::memory_order_relaxed); }
    // Ends sweep workers and the browse without any signal, e.g. before the program quits.
    void shutdown();

    // Whether the kernel has a route to any of the addresses (host byte order). Of a long list,
    // 256 spread evenly are asked: a route narrower than that spacing may be missed.
    static bool anyRouted(const QVector<quint32> &addresses);

signals:
    void pingIPResult(QString ipString, bool bSuccess);
    void deviceMacFound(QString ipString, QString macString, QString fwString, QString nameString);
    // What an earlier deviceMacFound said no longer holds: an mDNS device moved to a new
    // address, which a deviceMacFound reports next.
    void deviceWithdrawn(QString ipString, QString macString);
    // An mDNS device withdrew its announcement: it is leaving.
    void deviceSaidGoodbye(QString ipString, QString macString);
    void arpScanDone();
    // The current sweep came to its end, emitted in the thread that ended it; arpScanDone follows
    // through the event loop, unless a stop has reported the end first.
    void sweepEnded();
    void showWarningMessage(QString message, int type);
    // The swept interface went away during a sweep; arpScanDone follows.
    void interfaceLost();
    // The mDNS browse cannot run (no DNS-SD library, no daemon); showWarningMessage says so too.
    void browseUnavailable();
    // A vendor-looking host heard on the link with an address outside the swept subnet.
    void deviceHeardOutside(quint32 address, QString macString);
    // A named range off this machine's links needs the ARP helper, which cannot run; the sweep
    // ends at once.
    void arpHelperUnavailable(QString reason);

private:
    // What the sweeps and the browse report, passed on as the signals above.
    DiscoveryReports &reports() { return *this; }
    void hostAnswered(quint32 address, const QString &macString) override;
    void hostHeardOutside(quint32 address, const QString &macString) override;
    void deviceAnnounced(const QString &ipString, const QString &macString, const QString &fwString,
                         const QString &nameString) override;
    void announcementWithdrawn(const QString &ipString, const QString &macString) override;
    void announcementEnded(const QString &ipString, const QString &macString) override;
    void browseFailed(const QString &message) override;

    // A new current sweep, whose end is reported once, by itself or by a stop.
    void newSweep(int addressCount, int interfaceIndex, bool namedRange);
    void startHelperSweep(const QVector<quint32> &addresses, int interfaceIndex,
                          const SweepOrigin &origin);
    void startWorkers(const QVector<quint32> &addresses, bool httpProbe);
    void endSweepThreads();
    // Stops the browse thread, if any, and deletes it; emits nothing.
    void endBrowseThread();

    std::atomic<int> m_unresolved { 0 };
    std::unique_ptr<BonjourThread> m_bonjourThread;
    std::vector<std::unique_ptr<ARPThread>> m_workers;
    std::unique_ptr<HelperArpSweep> m_helperSweep;
    std::unique_ptr<ArpWatch> m_watch;
    bool m_useArpHelper = true;
    bool m_arpHelperRan = false;
    QString m_arpHelperPath;
    QSharedPointer<SweepState> m_sweep;
    // The current sweep's number, and whether its end was reported, by the sweep or by a stop.
    quint64 m_sweepNumber = 0;
    bool m_endReported = false;
    // Starts the workers of the current sweep; joined before they are ended.
    std::thread m_launcher;
};

#endif // BONJOURWINSERVICE_H
