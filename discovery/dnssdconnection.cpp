#include "dnssdconnection.h"

#include <QSocketNotifier>

Q_LOGGING_CATEGORY(lcDnsSd, "lumisweep.dnssd")

DnsSdConnection::Operation::Operation(DnsSdRef ref, std::unique_ptr<QSocketNotifier> notifier)
    : m_ref(std::move(ref)), m_notifier(std::move(notifier))
{
}

DnsSdConnection::Operation::~Operation() = default;

DnsSdConnection::DnsSdConnection() = default;

DnsSdConnection::~DnsSdConnection() = default;

DNSServiceErrorType DnsSdConnection::open(FailureHandler onLost)
{
    DnsSdBinding &binding = DnsSdBinding::instance();
    if (binding.lacksSharedConnections()) {
        return kDNSServiceErr_NoError;
    }
    DNSServiceRef ref = nullptr;
    const DNSServiceErrorType result = binding.createConnection(&ref);
    if (result == kDNSServiceErr_Unsupported) {
        return kDNSServiceErr_NoError;
    }
    if (result != kDNSServiceErr_NoError || !ref) {
        return result != kDNSServiceErr_NoError ? result : kDNSServiceErr_Unknown;
    }
    m_shared.reset(ref);
    m_sharedNotifier = watch(ref, std::move(onLost));
    if (!m_sharedNotifier) {
        m_shared.reset();
        return kDNSServiceErr_Unknown;
    }
    return kDNSServiceErr_NoError;
}

DNSServiceErrorType DnsSdConnection::browse(std::unique_ptr<Operation> *operation,
                                            const char *regtype, DNSServiceBrowseReply callBack,
                                            void *context, FailureHandler onFailed)
{
    DNSServiceRef ref = m_shared.get();
    const DNSServiceFlags flags = m_shared ? kDNSServiceFlagsShareConnection : 0;
    // Interface index 0 and no domain: every interface, the default domains.
    const DNSServiceErrorType result
        = DnsSdBinding::instance().browse(&ref, flags, 0, regtype, nullptr, callBack, context);
    return adopt(result, ref, operation, std::move(onFailed));
}

DNSServiceErrorType DnsSdConnection::resolve(std::unique_ptr<Operation> *operation,
                                             uint32_t interfaceIndex, const char *name,
                                             const char *regtype, const char *domain,
                                             DNSServiceResolveReply callBack, void *context,
                                             FailureHandler onFailed)
{
    DNSServiceRef ref = m_shared.get();
    const DNSServiceFlags flags = m_shared ? kDNSServiceFlagsShareConnection : 0;
    const DNSServiceErrorType result = DnsSdBinding::instance().resolve(
        &ref, flags, interfaceIndex, name, regtype, domain, callBack, context);
    return adopt(result, ref, operation, std::move(onFailed));
}

DNSServiceErrorType DnsSdConnection::queryRecord(std::unique_ptr<Operation> *operation,
                                                 uint32_t interfaceIndex, const char *name,
                                                 uint16_t rrtype,
                                                 DNSServiceQueryRecordReply callBack, void *context,
                                                 FailureHandler onFailed)
{
    DNSServiceRef ref = m_shared.get();
    const DNSServiceFlags flags = m_shared ? kDNSServiceFlagsShareConnection : 0;
    const DNSServiceErrorType result = DnsSdBinding::instance().queryRecord(
        &ref, flags, interfaceIndex, name, rrtype, kDNSServiceClass_IN, callBack, context);
    return adopt(result, ref, operation, std::move(onFailed));
}

DNSServiceErrorType DnsSdConnection::adopt(DNSServiceErrorType result, DNSServiceRef ref,
                                           std::unique_ptr<Operation> *operation,
                                           FailureHandler onFailed)
{
    // Before a successful call the reference may still be the shared one: never owned here.
    if (result != kDNSServiceErr_NoError) {
        return result;
    }
    DnsSdRef owned(ref);
    std::unique_ptr<QSocketNotifier> notifier;
    // On a shared connection the replies of every operation arrive on the shared socket.
    if (!m_shared) {
        notifier = watch(ref, std::move(onFailed));
        if (!notifier) {
            return kDNSServiceErr_Unknown;
        }
    }
    *operation = std::make_unique<Operation>(std::move(owned), std::move(notifier));
    return kDNSServiceErr_NoError;
}

std::unique_ptr<QSocketNotifier> DnsSdConnection::watch(DNSServiceRef ref, FailureHandler onFailed)
{
    const int fd = DnsSdBinding::instance().refSockFd(ref);
    if (fd < 0) {
        return nullptr;
    }
    auto notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    QSocketNotifier *watcher = notifier.get();
    QObject::connect(watcher, &QSocketNotifier::activated, watcher, [ref, watcher, onFailed] {
        const DNSServiceErrorType result = DnsSdBinding::instance().processResult(ref);
        if (result != kDNSServiceErr_NoError) {
            // A broken socket stays readable; watched on, it would keep the loop spinning.
            watcher->setEnabled(false);
            qCWarning(lcDnsSd) << "processing a reply failed:" << result;
            onFailed(result);
        }
    });
    return notifier;
}
