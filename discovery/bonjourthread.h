#ifndef BONJOURTHREAD_H
#define BONJOURTHREAD_H

#include "discovery/workerthread.h"

#include <atomic>

class DiscoveryReports;

// The mDNS browse thread: one connection to the DNS-SD daemon (avahi-daemon on Linux), the browse
// of "_encoder._tcp" and the resolves of the instances heard of, run on this thread's own event
// loop until a stop. What it finds it reports to the service.
class BonjourThread : public WorkerThread
{
    Q_OBJECT
public:
    // unresolved: where each run counts the instances that gave no address.
    BonjourThread(DiscoveryReports &reports, std::atomic<int> &unresolved);

    // Starts the browse unless it is running; one that ended after a failed start runs again.
    // Call it from the thread that owns this object.
    void startBrowse();
    // Makes the browse end and release what it holds, in its own thread. Safe from any thread;
    // returns at once.
    void requestStop();

protected:
    void work() override;

private:
    DiscoveryReports &m_reports;
    std::atomic<int> &m_unresolved;
    std::atomic<bool> m_stopRequested { false };
};

#endif // BONJOURTHREAD_H
