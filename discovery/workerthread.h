#ifndef WORKERTHREAD_H
#define WORKERTHREAD_H

#include <QThread>

#include <condition_variable>
#include <mutex>

// A QThread of the discovery service (a sweep worker, the mDNS browse thread) whose end the
// thread that launched it can wait for before it deletes or relaunches it.
//
// Why not QThread::wait() alone: Qt from Debian is not built with ThreadSanitizer, which then
// cannot see the ordering that wait() provides, and everything a worker touched looks raced once
// the waiter deletes it. The end is therefore also handed over through a standard mutex and
// condition variable, as run()'s last step; wait() follows for Qt's own bookkeeping.
class WorkerThread : public QThread
{
    Q_OBJECT
public:
    // Starts work() on a new thread; false when the system could not create one. Call it from
    // the thread that owns this object; a worker that has ended may be launched again.
    bool launch();
    // Blocks until work() has returned; returns at once for a worker that is not running.
    void waitUntilEnded();

protected:
    virtual void work() = 0;

private:
    void run() final;

    std::mutex m_mutex;
    std::condition_variable m_ended;
    bool m_running = false;
};

#endif // WORKERTHREAD_H
