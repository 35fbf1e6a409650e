#ifndef DNSSDCONNECTION_H
#define DNSSDCONNECTION_H

#include "platform/dnssdbinding.h"

#include <QLoggingCategory>

#include <functional>
#include <memory>

class QSocketNotifier;

Q_DECLARE_LOGGING_CATEGORY(lcDnsSd)

// The connection to the DNS-SD daemon, driven by the event loop of the thread that creates it:
// each reference's socket is watched, and DNSServiceProcessResult runs only when the daemon has
// written something (it blocks otherwise). The reply functions run inside that call.
//
// Where the library offers shared connections (DNSServiceCreateConnection), every operation is
// created on one shared reference and only its socket is watched. Where it answers
// kDNSServiceErr_Unsupported, as Avahi's compatibility library does, every operation has a
// reference and a socket of its own.
//
// Create, use and destroy it in one thread, and destroy every operation before it.
class DnsSdConnection
{
public:
    // Called with the library's code when processing fails: the reference is dead and will not
    // be processed again. It runs inside the event that processed it, so it must not destroy
    // the operation there and then.
    using FailureHandler = std::function<void(DNSServiceErrorType)>;

    // One browse, resolve or record query; it ends when this goes.
    class Operation
    {
    public:
        Operation(DnsSdRef ref, std::unique_ptr<QSocketNotifier> notifier);
        ~Operation();

    private:
        DnsSdRef m_ref;
        // Declared after the reference: it must stop watching before the socket is closed.
        std::unique_ptr<QSocketNotifier> m_notifier;
    };

    DnsSdConnection();
    ~DnsSdConnection();
    DnsSdConnection(const DnsSdConnection &) = delete;
    DnsSdConnection &operator=(const DnsSdConnection &) = delete;

    // Connects to the daemon where the library shares connections. An unsupported shared
    // connection is no failure: the operations then get connections of their own.
    DNSServiceErrorType open(FailureHandler onLost);

    DNSServiceErrorType browse(std::unique_ptr<Operation> *operation, const char *regtype,
                               DNSServiceBrowseReply callBack, void *context,
                               FailureHandler onFailed);
    DNSServiceErrorType resolve(std::unique_ptr<Operation> *operation, uint32_t interfaceIndex,
                                const char *name, const char *regtype, const char *domain,
                                DNSServiceResolveReply callBack, void *context,
                                FailureHandler onFailed);
    // The records of one name, type and class (IN), as the daemon learns them, until it goes.
    DNSServiceErrorType queryRecord(std::unique_ptr<Operation> *operation, uint32_t interfaceIndex,
                                    const char *name, uint16_t rrtype,
                                    DNSServiceQueryRecordReply callBack, void *context,
                                    FailureHandler onFailed);

private:
    DNSServiceErrorType adopt(DNSServiceErrorType result, DNSServiceRef ref,
                              std::unique_ptr<Operation> *operation, FailureHandler onFailed);
    static std::unique_ptr<QSocketNotifier> watch(DNSServiceRef ref, FailureHandler onFailed);

    DnsSdRef m_shared;
    std::unique_ptr<QSocketNotifier> m_sharedNotifier;
};

#endif // DNSSDCONNECTION_H
