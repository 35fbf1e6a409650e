#ifndef ARPTHREAD_H
#define ARPTHREAD_H

#include "discovery/workerthread.h"

#include <QSharedPointer>
#include <QVector>

#include <memory>
#include <optional>
#include <vector>

class DiscoveryReports;
class Ipv4Route;
class NeighbourTable;
class QElapsedTimer;
class QEventLoop;
class SweepState;

// A sweep worker of the discovery service: a consecutive slice of the addresses, each asked
// either by ARP through the kernel's neighbour table (after one ICMP echo) or over HTTP for the
// device's MAC address. It reports every host that answered to the service, and each address's
// end to the state its sweep shares.
class ARPThread : public WorkerThread
{
    Q_OBJECT
public:
    // Small stacks: a sweep runs up to 256 workers, which would otherwise reserve gigabytes.
    static constexpr uint kStackSize = 256 * 1024;
    static constexpr int kPauseMs = 100;
    // The HTTP probe: how long an address has to take the connection, and then to answer.
    static constexpr int kProbeLimitMs = 300;
    static constexpr int kAnswerLimitMs = 3000;

    // The longest wait between two looks at a resolution still open. A scan is waited for, so
    // it looks often; a watch, whose answers may come a little late, looks a few times as
    // seldom and spends that much less CPU on the silent addresses of its sweep.
    static constexpr int kScanLookMs = 40;

    ARPThread(DiscoveryReports &reports, QVector<quint32> slice, QSharedPointer<SweepState> state,
              bool httpProbe, int longestLookMs = kScanLookMs);
    ~ARPThread() override;

    int addressCount() const { return m_slice.size(); }
    // Ends the event loop of an HTTP probe in flight; the shared state's stop ends the rest.
    void interrupt();

protected:
    void work() override;

private:
    enum class Reach { Send, Skip, Lost, Unknown };
    // What one look at an address's neighbour entry came to.
    enum class Look { Pending, Settled, LinkLost };
    struct Watch;

    void runArp();
    // nullptr when the sweep stopped meanwhile, or the address was counted as not checked.
    std::unique_ptr<Watch> watchFor(NeighbourTable &table, quint32 address);
    void watch(Ipv4Route &route, NeighbourTable &table,
               std::vector<std::unique_ptr<Watch>> &watches, const QElapsedTimer &clock,
               qint64 untilMs);
    Look look(Ipv4Route &route, NeighbourTable &table, Watch &watch, const QElapsedTimer &clock);
    // Whether the kernel refused an entry while the address stayed silent; nothing yet when
    // that cannot be told so soon.
    std::optional<bool> silenceRefused(Watch &watch);
    Look settle(Ipv4Route &route, Watch &watch, const QByteArray &mac, bool answered, bool failed);
    void runHttpProbe();
    void probe(quint32 address, QEventLoop &loop);
    bool accepts(quint32 address, QEventLoop &loop);
    // Whether address may be probed now: only while it is on the link of the swept interface.
    Reach reach(Ipv4Route &route, quint32 address) const;
    bool decide(Reach reach);
    void report(quint32 address, const QString &macString);

    DiscoveryReports &m_reports;
    const QVector<quint32> m_slice;
    const QSharedPointer<SweepState> m_state;
    const bool m_httpProbe;
    const int m_longestLookMs;
};

#endif // ARPTHREAD_H
