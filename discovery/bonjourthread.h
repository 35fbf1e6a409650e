#ifndef BONJOURTHREAD_H
#define BONJOURTHREAD_H

#include <QThread>

#include <atomic>
#include <condition_variable>
#include <mutex>

// Runs the mDNS browse for "_encoder._tcp" on its own event loop: one connection to the DNS-SD
// daemon, the browse and the resolves of the instances heard of, until a stop. What it finds it
// reports through its signals, emitted in this thread.
class BonjourThread : public QThread
{
    Q_OBJECT
public:
    // Starts the browse unless it is running; one that ended after a failed start runs again.
    // Call it from the thread that owns this object.
    void startBrowse();
    // Makes the browse end and release what it holds, in its own thread. Safe from any thread;
    // returns at once.
    void requestStop();
    bool stopRequested() const { return m_stopRequested.load(std::memory_order_acquire); }
    // Blocks until run() has returned, after which the thread may be deleted or run again.
    void waitUntilEnded();

signals:
    void deviceResolved(QString ipString, QString macString, QString fwString, QString nameString);
    // The browse cannot start (no library, no daemon); message is rich text with a link.
    void browseUnavailable(QString message);

protected:
    void run() override;

private:
    std::atomic<bool> m_stopRequested { false };
    // Whether run() is under way; set by startBrowse(), cleared as run()'s last step.
    std::mutex m_runMutex;
    std::condition_variable m_runEnded;
    bool m_running = false;
};

#endif // BONJOURTHREAD_H
