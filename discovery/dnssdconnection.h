#ifndef DNSSDCONNECTION_H
#define DNSSDCONNECTION_H

#include "discovery/dnssdbinding.h"

#include <atomic>
#include <vector>

// The program-wide connection to the DNS-SD daemon: the browse and every resolve run on it,
// one loop processes all of them and one release ends them all.
//
// Where the library offers shared connections (DNSServiceCreateConnection), the operations are
// created on one shared reference. Where it answers kDNSServiceErr_Unsupported, as Avahi's
// compatibility library does, every operation has a reference and a socket of its own; this
// class then keeps those references and stands in for the shared one.
//
// Everything except wake() is called from the one thread that runs the processing loop.
class DnsSdConnection
{
public:
    enum class WaitResult {
        Processed, // at least one reference had a message and it was handled
        Woken, // wake() was called
        TimedOut,
        Failed // nothing left to wait on but the wake-up
    };

    static DnsSdConnection &shared();

    explicit DnsSdConnection(DnsSdBinding &binding);
    ~DnsSdConnection();
    DnsSdConnection(const DnsSdConnection &) = delete;
    DnsSdConnection &operator=(const DnsSdConnection &) = delete;

    // Connects to the daemon. The library's own answer is returned, but an unsupported shared
    // connection is not a failure: the operations then get references of their own.
    DNSServiceErrorType open();
    bool isOpen() const { return m_open; }
    bool usesLibrarySharing() const { return m_sharedRef != nullptr; }

    DNSServiceErrorType browse(uint32_t interfaceIndex, const char *regtype, const char *domain,
                               DNSServiceBrowseReply callBack, void *context);
    DNSServiceErrorType resolve(uint32_t interfaceIndex, const char *name, const char *regtype,
                                const char *domain, DNSServiceResolveReply callBack, void *context);

    // Waits until a reference has a message or wake() is called, at most timeoutMs (negative:
    // without limit), and processes every reference that is ready. The reply functions run
    // inside this call and may start further operations on this connection.
    WaitResult processNext(int timeoutMs);
    // Waits only for wake(), at most timeoutMs; true when woken.
    bool waitForWake(int timeoutMs);

    // For a reply function: the operation has delivered what it was for. Where every operation
    // costs the library a thread and a daemon connection of its own, it is released as soon as
    // the reply function returns, so a large network cannot exhaust either; on a shared
    // connection it stays until release(), which costs nothing.
    void finishWhenProcessed(DNSServiceRef ref);

    // Makes the thread in processNext or waitForWake return. Safe from any thread.
    void wake();

    // Ends every operation and the connection. Only the first call after open() releases;
    // it returns true, every later one false.
    bool release();

private:
    DNSServiceErrorType add(DNSServiceErrorType result, DNSServiceRef ref);
    void dropOwnRef(DNSServiceRef ref);
    void drainWake();

    DnsSdBinding &m_binding;
    DNSServiceRef m_sharedRef = nullptr;
    // The operations' own references when the library cannot share a connection.
    std::vector<DNSServiceRef> m_ownRefs;
    std::vector<DNSServiceRef> m_finishedRefs;
    bool m_open = false;
    DNSServiceErrorType m_openError = kDNSServiceErr_NoError;
    int m_wakeFd = -1;
};

#endif // DNSSDCONNECTION_H
