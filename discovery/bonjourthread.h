#ifndef BONJOURTHREAD_H
#define BONJOURTHREAD_H

#include "discovery/dnssdbinding.h"

#include <QThread>

#include <atomic>

class BonjourWinService;

// Runs the mDNS browse for "_encoder._tcp": one connection to the DNS-SD daemon, the browse
// and a resolve per instance heard of, all processed here until a stop is requested.
class BonjourThread : public QThread
{
public:
    explicit BonjourThread(BonjourWinService *service);

    // Makes the loop end at its next step; the thread then releases the connection itself.
    // Safe from any thread.
    void requestStop();
    // Blocks until run() has returned, after which the thread may be deleted or run again.
    // QThread::wait() gives that order through Qt's own lock, which a thread sanitizer cannot
    // see unless Qt is built with it; the count that run() raises last gives it in a form it sees.
    void waitUntilEnded();

    BonjourWinService *const m_service;
    std::atomic<bool> m_stopRequested { false };

protected:
    void run() override;

private:
    void browse();

    std::atomic<int> m_runsEnded { 0 };
};

// The reply functions handed to DNSServiceBrowse and DNSServiceResolve; context is the
// BonjourWinService. They run in the BonjourThread, inside the processing loop.
void BrowserCallBack(DNSServiceRef sdRef, DNSServiceFlags flags, uint32_t interfaceIndex,
                     DNSServiceErrorType errorCode, const char *serviceName, const char *regtype,
                     const char *replyDomain, void *context);
void ServiceResolveCallBack(DNSServiceRef sdRef, DNSServiceFlags flags, uint32_t interfaceIndex,
                            DNSServiceErrorType errorCode, const char *fullname,
                            const char *hosttarget, uint16_t port, uint16_t txtLen,
                            const unsigned char *txtRecord, void *context);

#endif // BONJOURTHREAD_H
