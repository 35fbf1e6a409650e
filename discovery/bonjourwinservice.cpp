#include "bonjourwinservice.h"

#include "base/ipv4text.h"
#include "discovery/arpthread.h"
#include "discovery/arpwatch.h"
#include "discovery/bonjourthread.h"
#include "discovery/helperarpsweep.h"
#include "discovery/reachabilityprobe.h"
#include "discovery/sweepstate.h"
#include "platform/ipv4route.h"

#include <QDebug>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

constexpr int kProbeThreadCount = 20;
// The first addresses of a list tell which link the sweep is on; one of them may be this
// machine's own address.
constexpr int kInterfaceProbes = 4;
// Every address of a /24, every 256th of a /16.
constexpr int kRouteProbes = 256;

// The interface through which the addresses are on the link, or 0 when they are not.
int sweptInterface(const QVector<quint32> &addresses)
{
    Ipv4Route route;
    for (int i = 0; i < qMin(addresses.size(), kInterfaceProbes); ++i) {
        const Ipv4Route::Hop hop = route.to(addresses.at(i));
        if (hop.kind == Ipv4Route::Kind::OnLink) {
            return hop.interfaceIndex;
        }
    }
    return 0;
}

// Whether the kernel's path can sweep the addresses: they must be on the link of interfaceIndex,
// a range the user named all of it (an ARP sweep would end at its first address off the link,
// after half a table), unless an HTTP probe may go through a router.
bool kernelCanSweep(const QVector<quint32> &addresses, int interfaceIndex, bool httpProbe,
                    bool namedRange)
{
    if (httpProbe && namedRange) {
        return true;
    }
    if (interfaceIndex == 0 || !namedRange) {
        return interfaceIndex != 0;
    }
    Ipv4Route route;
    return std::all_of(addresses.cbegin(), addresses.cend(), [&](quint32 address) {
        const Ipv4Route::Hop hop = route.to(address);
        return hop.kind == Ipv4Route::Kind::Local
            || (hop.kind == Ipv4Route::Kind::OnLink && hop.interfaceIndex == interfaceIndex);
    });
}

} // namespace

BonjourWinService::BonjourWinService(QObject *parent) : QObject(parent) { }

BonjourWinService::~BonjourWinService()
{
    shutdown();
}

void BonjourWinService::hostAnswered(quint32 address, const QString &macString)
{
    emit deviceMacFound(Ipv4Text::format(address), macString, QString(), QString());
}

void BonjourWinService::hostHeardOutside(quint32 address, const QString &macString)
{
    emit deviceHeardOutside(address, macString);
}

void BonjourWinService::deviceAnnounced(const QString &ipString, const QString &macString,
                                        const QString &fwString, const QString &nameString)
{
    emit deviceMacFound(ipString, macString, fwString, nameString);
}

void BonjourWinService::announcementWithdrawn(const QString &ipString, const QString &macString)
{
    emit deviceWithdrawn(ipString, macString);
}

void BonjourWinService::announcementEnded(const QString &ipString, const QString &macString)
{
    emit deviceSaidGoodbye(ipString, macString);
}

void BonjourWinService::browseFailed(const QString &message)
{
    // The message first: a front end that ends on the failure has then shown why.
    emit showWarningMessage(message, 0);
    emit browseUnavailable();
}

bool BonjourWinService::anyRouted(const QVector<quint32> &addresses)
{
    Ipv4Route route;
    const int step = qMax(1, addresses.size() / kRouteProbes);
    for (int i = 0; i < addresses.size(); i += step) {
        if (route.to(addresses.at(i)).kind != Ipv4Route::Kind::Unreachable) {
            return true;
        }
    }
    return false;
}

void BonjourWinService::startArpScan(QVector<quint32> addresses, bool httpProbe)
{
    startArpScan(std::move(addresses), httpProbe, SweepOrigin());
}

void BonjourWinService::setArpHelper(bool use, const QString &path)
{
    m_useArpHelper = use;
    m_arpHelperPath = path;
}

void BonjourWinService::startArpScan(QVector<quint32> addresses, bool httpProbe,
                                     const SweepOrigin &origin)
{
    qDebug().noquote() << "BonjourWinService startArpScan";
    // Workers of an earlier sweep still count down their sweep: end them first.
    endSweepThreads();
    m_arpHelperRan = false;
    const int interfaceIndex = addresses.isEmpty() ? 0 : sweptInterface(addresses);
    newSweep(addresses.size(), interfaceIndex, origin.namedRange);
    if (addresses.isEmpty()) {
        // Nothing to sweep: the end comes through the event loop, as it does for a sweep, so a
        // caller sees it after this call and a stop can still take its place.
        QTimer::singleShot(0, m_sweep.data(), &SweepState::endIfEmpty);
        return;
    }
    if (!httpProbe && m_useArpHelper && !origin.interfaceName.isEmpty()) {
        startHelperSweep(addresses, interfaceIndex, origin);
        return;
    }
    if (!kernelCanSweep(addresses, interfaceIndex, httpProbe, origin.namedRange)) {
        // Not on any link of this machine: the end comes through the event loop, as above.
        QTimer::singleShot(0, m_sweep.data(), &SweepState::abandon);
        return;
    }
    if (!httpProbe) {
        qDebug().noquote() << "ARP engine: the kernel's neighbour table";
    }
    startWorkers(addresses, httpProbe);
}

void BonjourWinService::newSweep(int addressCount, int interfaceIndex, bool namedRange)
{
    m_sweep.reset(new SweepState(addressCount, interfaceIndex, namedRange));
    m_endReported = false;
    // Queued also from this thread: a stop that comes while the end waits in the queue reports
    // the end itself, and this one is then dropped, as is one of a sweep that is no longer
    // current (counted, since a new sweep's state may reuse an old one's address).
    connect(
        m_sweep.data(), &SweepState::ended, this,
        [this, sweep = ++m_sweepNumber] {
            if (sweep == m_sweepNumber && !std::exchange(m_endReported, true)) {
                qDebug().noquote() << "Done Arp Scan";
                emit arpScanDone();
            }
        },
        Qt::QueuedConnection);
    // After the connection above, so that the report is on its way when this is heard.
    connect(m_sweep.data(), &SweepState::ended, this, &BonjourWinService::sweepEnded,
            Qt::DirectConnection);
    connect(m_sweep.data(), &SweepState::interfaceLost, this, &BonjourWinService::interfaceLost,
            Qt::DirectConnection);
}

void BonjourWinService::startHelperSweep(const QVector<quint32> &addresses, int interfaceIndex,
                                         const SweepOrigin &origin)
{
    m_helperSweep = std::make_unique<HelperArpSweep>(reports(), addresses, addresses.first() - 1,
                                                     addresses.last() + 1, m_sweep);
    connect(m_helperSweep.get(), &HelperArpSweep::ready, this, [this](const QString &path) {
        m_arpHelperRan = true;
        qDebug().noquote() << "ARP engine: the helper" << path;
    });
    connect(m_helperSweep.get(), &HelperArpSweep::unavailable, this,
            [this, addresses, interfaceIndex, origin](const QString &reason) {
                qDebug().noquote()
                    << "ARP engine: the kernel's neighbour table; the helper cannot run:" << reason;
                if (!kernelCanSweep(addresses, interfaceIndex, false, origin.namedRange)) {
                    emit arpHelperUnavailable(reason);
                    m_sweep->abandon();
                } else {
                    startWorkers(addresses, false);
                }
            });
    m_helperSweep->start(m_arpHelperPath, origin.interfaceName, origin.source);
}

ArpWatch *BonjourWinService::startArpWatch(QVector<quint32> addresses, const SweepOrigin &origin,
                                           qint64 sweepPeriodMs)
{
    qDebug().noquote() << "BonjourWinService startArpScan";
    stopWatch();
    m_arpHelperRan = false;
    const int interfaceIndex = addresses.isEmpty() ? 0 : sweptInterface(addresses);
    newSweep(addresses.size(), interfaceIndex, origin.namedRange);
    m_watch = std::make_unique<ArpWatch>(ArpWatch::Target {
        origin.interfaceName, origin.source, addresses, ArpWatch::Mode::Sweep, sweepPeriodMs });
    ArpWatch *watch = m_watch.get();
    // The first scan is the sweep a scan runs, on the watch's helper session where it runs.
    connect(watch, &ArpWatch::helperReady, this, [this, addresses, origin] {
        m_arpHelperRan = true;
        qDebug().noquote() << "ARP engine: the helper, kept for the watch";
        m_helperSweep = std::make_unique<HelperArpSweep>(
            reports(), addresses, addresses.first() - 1, addresses.last() + 1, m_sweep);
        m_helperSweep->run(m_watch->engine(), origin.source);
    });
    connect(watch, &ArpWatch::helperUnavailable, this,
            [this, addresses, interfaceIndex, origin](const QString &reason) {
                qDebug().noquote() << "ARP engine: the kernel's neighbour table:" << reason;
                if (!kernelCanSweep(addresses, interfaceIndex, false, origin.namedRange)) {
                    emit arpHelperUnavailable(reason);
                    m_sweep->abandon();
                } else {
                    startWorkers(addresses, false);
                }
            });
    connect(m_sweep.data(), &SweepState::ended, watch, &ArpWatch::goLive, Qt::QueuedConnection);
    if (addresses.isEmpty()) {
        QTimer::singleShot(0, m_sweep.data(), &SweepState::endIfEmpty);
    } else {
        watch->start(m_useArpHelper && !origin.interfaceName.isEmpty(), m_arpHelperPath);
    }
    return watch;
}

ArpWatch *BonjourWinService::startMdnsWatch(const QVector<quint32> &subnet,
                                            const SweepOrigin &origin)
{
    stopWatch();
    startDiscover();
    m_watch = std::make_unique<ArpWatch>(ArpWatch::Target {
        origin.interfaceName, origin.source, subnet, ArpWatch::Mode::RecheckOnly, 0 });
    ArpWatch *watch = m_watch.get();
    // There is no first sweep: the re-checks begin with the first announced device.
    connect(watch, &ArpWatch::helperReady, watch, &ArpWatch::goLive);
    connect(watch, &ArpWatch::helperUnavailable, watch, &ArpWatch::goLive);
    watch->start(m_useArpHelper && !origin.interfaceName.isEmpty(), m_arpHelperPath);
    return watch;
}

void BonjourWinService::stopWatch()
{
    endBrowseThread();
    endSweepThreads();
    m_watch.reset();
}

void BonjourWinService::startWorkers(const QVector<quint32> &addresses, bool httpProbe)
{
    const int threadCount = httpProbe ? kProbeThreadCount : kMaxSweepThreads;
    const int total = addresses.size();
    const int slice = int(std::ceil(float(total) / float(threadCount)));
    for (int i = 0; i * slice < total; ++i) {
        m_workers.push_back(std::make_unique<ARPThread>(reports(), addresses.mid(i * slice, slice),
                                                        m_sweep, httpProbe));
    }
    // Starting 256 threads takes the GUI thread tens of milliseconds, a visible freeze: they
    // are started from a thread of their own, which a stop joins before anything else.
    std::vector<ARPThread *> workers;
    for (const auto &worker : m_workers) {
        workers.push_back(worker.get());
    }
    m_launcher = std::thread([workers = std::move(workers), sweep = m_sweep] {
        for (ARPThread *worker : workers) {
            if (sweep->isStopping()) {
                break;
            }
            if (!worker->launch()) {
                qWarning().noquote() << "Sweep: no thread for" << worker->addressCount()
                                     << "addresses; they are counted as not checked";
                for (int n = worker->addressCount(); n > 0; --n) {
                    sweep->failAddress();
                }
            }
        }
    });
}

void BonjourWinService::stopArpScan()
{
    qDebug().noquote() << "BonjourWinService stopArpScan";
    endSweepThreads();
    m_endReported = true;
    qDebug().noquote() << "Done Arp Scan";
    emit arpScanDone();
}

int BonjourWinService::remainingCount() const
{
    return m_sweep ? m_sweep->remaining() : 0;
}

int BonjourWinService::sweepFailures() const
{
    return m_sweep ? m_sweep->failures() : 0;
}

bool BonjourWinService::pingIP(QString ipString, bool report)
{
    // A text that is no address must not become a broadcast echo.
    const std::optional<quint32> address = Ipv4Text::parse(ipString);
    const bool result = address && ReachabilityProbe::echo(*address);
    if (report) {
        emit pingIPResult(ipString, result);
    }
    return result;
}

void BonjourWinService::startDiscover()
{
    qDebug().noquote() << "BonjourWinService startDiscover";
    if (!m_bonjourThread) {
        m_bonjourThread = std::make_unique<BonjourThread>(reports(), m_unresolved);
    }
    m_bonjourThread->startBrowse();
}

void BonjourWinService::stopDiscover()
{
    qDebug().noquote() << "BonjourWinService stopDiscover";
    endBrowseThread();
}

void BonjourWinService::shutdown()
{
    stopWatch();
}

void BonjourWinService::endSweepThreads()
{
    if (m_sweep) {
        m_sweep->stop();
    }
    m_helperSweep.reset();
    if (m_launcher.joinable()) {
        m_launcher.join();
    }
    // Ask all workers first so that they wind down together rather than one after the other.
    for (const auto &worker : m_workers) {
        worker->interrupt();
    }
    for (const auto &worker : m_workers) {
        worker->waitUntilEnded();
    }
    m_workers.clear();
}

void BonjourWinService::endBrowseThread()
{
    if (!m_bonjourThread) {
        return;
    }
    // The thread waits for the daemon in its event loop, which the stop ends at once; it then
    // releases the connection by itself.
    m_bonjourThread->requestStop();
    m_bonjourThread->waitUntilEnded();
    m_bonjourThread.reset();
}
