#ifndef BONJOURTHREAD_H
#define BONJOURTHREAD_H

#include "platform/dnssdbinding.h"

#include <QThread>

#include <atomic>

class BonjourWinService;

// Runs the mDNS browse for "_encoder._tcp" on its own event loop: one connection to the DNS-SD
// daemon, the browse and the resolves of the instances heard of, until a stop.
class BonjourThread : public QThread
{
public:
    explicit BonjourThread(BonjourWinService *service);

    BonjourWinService *service() const { return m_service; }

    // Starts the browse unless it is running; one that ended after a failed start runs again.
    // Call it from the thread that owns this object.
    void startBrowse();
    // Makes the browse end and release what it holds, in its own thread. Safe from any thread;
    // returns at once.
    void requestStop();
    bool stopRequested() const { return m_stopRequested.load(std::memory_order_acquire); }
    // Blocks until run() has returned, after which the thread may be deleted or run again.
    // QThread::wait() gives that order through Qt's own lock, which a thread sanitizer cannot
    // see unless Qt is built with it; the count that run() raises last gives it in a form it sees.
    void waitUntilEnded();

protected:
    void run() override;

private:
    BonjourWinService *const m_service;
    std::atomic<bool> m_stopRequested { false };
    std::atomic<int> m_runsEnded { 0 };
};

// The reply functions handed to DNSServiceBrowse and DNSServiceResolve. They run in the
// BonjourThread, inside the processing of the daemon's messages. BrowserCallBack's context is
// the browse's BrowseSession; ServiceResolveCallBack's is the instance's PendingResolve.
void BrowserCallBack(DNSServiceRef sdRef, DNSServiceFlags flags, uint32_t interfaceIndex,
                     DNSServiceErrorType errorCode, const char *serviceName, const char *regtype,
                     const char *replyDomain, void *context);
void ServiceResolveCallBack(DNSServiceRef sdRef, DNSServiceFlags flags, uint32_t interfaceIndex,
                            DNSServiceErrorType errorCode, const char *fullname,
                            const char *hosttarget, uint16_t port, uint16_t txtLen,
                            const unsigned char *txtRecord, void *context);

#endif // BONJOURTHREAD_H
