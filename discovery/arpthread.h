#ifndef ARPTHREAD_H
#define ARPTHREAD_H

#include <QMutex>
#include <QThread>
#include <QWaitCondition>

#include <atomic>

class BonjourWinService;
class QEventLoop;
class QNetworkReply;

// One worker of an address sweep: a consecutive slice of the service's address list, asked
// either by ARP (after one ICMP echo) or over HTTP for the device's MAC address.
class ARPThread : public QThread
{
    Q_OBJECT
public:
    // Small stacks: a sweep runs up to 256 workers, which would otherwise reserve gigabytes.
    static constexpr uint kStackSize = 256 * 1024;
    static constexpr int kPauseMs = 100;
    static constexpr int kProbeLimitMs = 300;

    ARPThread(BonjourWinService *service, int startIndex, int count, bool httpProbe);

    // Every wait of the worker (ARP, echo, pause, HTTP probe) ends early; returns at once.
    void requestStop();
    // Blocks until run() has returned, after which the thread may be deleted. QThread::wait()
    // gives that order through Qt's own lock, which a thread sanitizer cannot see unless Qt is
    // built with it; the flag that run() publishes last gives the same order in a form it sees.
    void waitUntilEnded();
    int startIndex() const { return m_startIndex; }
    int count() const { return m_count; }
    bool httpProbe() const { return m_httpProbe; }

protected:
    void run() override;

private:
    void runArp();
    void runHttpProbe();
    void onProbeFinished(QNetworkReply *reply, QEventLoop *loop);
    bool stopRequested() const { return m_stopRequested.load(std::memory_order_acquire); }
    void pause(int milliseconds);

    std::atomic<bool> m_stopRequested { false };
    std::atomic<bool> m_runEnded { false };
    const int m_startIndex;
    const int m_count;
    const bool m_httpProbe;
    BonjourWinService *const m_service;
    QMutex m_pauseMutex;
    QWaitCondition m_pauseEnded;
};

#endif // ARPTHREAD_H
