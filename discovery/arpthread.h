#ifndef ARPTHREAD_H
#define ARPTHREAD_H

#include <QSharedPointer>
#include <QThread>
#include <QVector>

#include <functional>
#include <future>
#include <vector>

class ArpResolver;
class Ipv4Route;
class QElapsedTimer;
class QEventLoop;
class QNetworkReply;
class SweepState;

// One worker of an address sweep: a consecutive slice of the addresses, asked either by ARP
// (after one ICMP echo) or over HTTP for the device's MAC address. It knows only its slice, the
// state its sweep shares, and the echo it sends; what it finds it reports through hostFound.
class ARPThread : public QThread
{
    Q_OBJECT
public:
    // Sends one echo to an address (host byte order); true when the host answered.
    using Echo = std::function<bool(quint32 address)>;

    // Small stacks: a sweep runs up to 256 workers, which would otherwise reserve gigabytes.
    static constexpr uint kStackSize = 256 * 1024;
    static constexpr int kPauseMs = 100;
    static constexpr int kProbeLimitMs = 300;

    ARPThread(QVector<quint32> slice, QSharedPointer<SweepState> state, Echo echo, bool httpProbe);

    // Starts the worker; false when the system could not create its thread. Called once, from
    // the thread that launches the sweep's workers, which is joined before waitUntilEnded().
    bool launch();
    int addressCount() const { return m_slice.size(); }
    // Ends the event loop of an HTTP probe in flight; the shared state's stop ends the rest.
    void interrupt();
    // Blocks until run() has returned, after which the worker may be deleted.
    void waitUntilEnded();

signals:
    void hostFound(QString ipString, QString macString);

protected:
    void run() override;

private:
    enum class Reach { Send, Skip, Lost, Unknown };
    struct Pending;

    void runArp();
    void watch(Ipv4Route &route, ArpResolver &resolver, std::vector<Pending> &pending,
               const QElapsedTimer &clock, qint64 untilMs);
    void runHttpProbe();
    void probe(quint32 address, QEventLoop &loop);
    // Whether address may be probed now: only while it is on the link of the swept interface.
    Reach reach(Ipv4Route &route, quint32 address) const;
    bool decide(Reach reach);

    const QVector<quint32> m_slice;
    const QSharedPointer<SweepState> m_state;
    const Echo m_echo;
    const bool m_httpProbe;
    // The join handle of run(): set as its last step, so waiting on it orders everything the
    // worker did before whatever the waiter does next.
    bool m_launched = false;
    std::promise<void> m_runReturned;
    std::future<void> m_runEnded = m_runReturned.get_future();
};

#endif // ARPTHREAD_H
