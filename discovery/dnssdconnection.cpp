#include "dnssdconnection.h"

#include <QDebug>

#include <errno.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>

namespace {

// A signal cuts a wait short; starting it again with the full timeout only lengthens a bounded
// wait a little.
int pollRetrying(pollfd *fds, nfds_t count, int timeoutMs)
{
    int ready = 0;
    do {
        ready = poll(fds, count, timeoutMs);
    } while (ready < 0 && errno == EINTR);
    return ready;
}

} // namespace

DnsSdConnection &DnsSdConnection::shared()
{
    static DnsSdConnection connection(DnsSdBinding::instance());
    return connection;
}

DnsSdConnection::DnsSdConnection(DnsSdBinding &binding)
    : m_binding(binding), m_wakeFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
    if (m_wakeFd < 0) {
        qWarning().noquote() << "DNS-SD: no wake-up descriptor, a stop waits for the daemon:"
                             << qt_error_string(errno);
    }
}

DnsSdConnection::~DnsSdConnection()
{
    release();
    if (m_wakeFd >= 0) {
        close(m_wakeFd);
    }
}

DNSServiceErrorType DnsSdConnection::open()
{
    release();
    drainWake();
    DNSServiceRef ref = nullptr;
    const DNSServiceErrorType result = m_binding.lacksSharedConnections()
        ? kDNSServiceErr_Unsupported
        : m_binding.createConnection(&ref);
    m_openError = result;
    if (result == kDNSServiceErr_NoError && ref) {
        m_sharedRef = ref;
        m_open = true;
    } else if (result == kDNSServiceErr_Unsupported) {
        m_open = true;
    }
    return result;
}

DNSServiceErrorType DnsSdConnection::add(DNSServiceErrorType result, DNSServiceRef ref)
{
    // With a shared connection the operation's reference is a child of it and ends with it.
    if (result == kDNSServiceErr_NoError && ref && !m_sharedRef) {
        m_ownRefs.push_back(ref);
    }
    return result;
}

DNSServiceErrorType DnsSdConnection::browse(uint32_t interfaceIndex, const char *regtype,
                                            const char *domain, DNSServiceBrowseReply callBack,
                                            void *context)
{
    if (!m_open) {
        // The reason there is no connection is the reason the browse cannot start.
        return m_openError != kDNSServiceErr_NoError ? m_openError : kDNSServiceErr_Unknown;
    }
    DNSServiceRef ref = m_sharedRef;
    const DNSServiceFlags flags = m_sharedRef ? kDNSServiceFlagsShareConnection : 0;
    const DNSServiceErrorType result
        = m_binding.browse(&ref, flags, interfaceIndex, regtype, domain, callBack, context);
    return add(result, ref);
}

DNSServiceErrorType DnsSdConnection::resolve(uint32_t interfaceIndex, const char *name,
                                             const char *regtype, const char *domain,
                                             DNSServiceResolveReply callBack, void *context)
{
    if (!m_open) {
        return m_openError != kDNSServiceErr_NoError ? m_openError : kDNSServiceErr_Unknown;
    }
    DNSServiceRef ref = m_sharedRef;
    const DNSServiceFlags flags = m_sharedRef ? kDNSServiceFlagsShareConnection : 0;
    const DNSServiceErrorType result
        = m_binding.resolve(&ref, flags, interfaceIndex, name, regtype, domain, callBack, context);
    return add(result, ref);
}

DnsSdConnection::WaitResult DnsSdConnection::processNext(int timeoutMs)
{
    // Snapshot of what to wait on: the reply functions may append references while the ready
    // ones are processed below, and those join the next wait.
    std::vector<DNSServiceRef> refs;
    if (m_sharedRef) {
        refs.push_back(m_sharedRef);
    } else {
        refs = m_ownRefs;
    }
    std::vector<pollfd> fds;
    fds.reserve(refs.size() + 1);
    fds.push_back({ m_wakeFd, POLLIN, 0 });
    for (DNSServiceRef ref : refs) {
        fds.push_back({ m_binding.refSockFd(ref), POLLIN, 0 });
    }
    if (refs.empty() && m_wakeFd < 0) {
        return WaitResult::Failed;
    }

    const int ready = pollRetrying(fds.data(), fds.size(), timeoutMs);
    if (ready < 0) {
        qWarning().noquote() << "DNS-SD: poll failed:" << qt_error_string(errno);
        return WaitResult::Failed;
    }
    if (ready == 0) {
        return WaitResult::TimedOut;
    }
    if (fds[0].revents & POLLIN) {
        drainWake();
        return WaitResult::Woken;
    }

    // A reference whose socket failed would be reported ready on every wait; it is dropped so
    // the loop does not spin on it.
    std::vector<DNSServiceRef> broken;
    bool processed = false;
    for (size_t i = 0; i < refs.size(); ++i) {
        const short events = fds[i + 1].revents;
        if (events == 0) {
            continue;
        }
        if (!(events & POLLIN)) {
            broken.push_back(refs[i]);
            continue;
        }
        const DNSServiceErrorType result = m_binding.processResult(refs[i]);
        if (result != kDNSServiceErr_NoError) {
            qWarning().noquote() << "DNS-SD: processing a reply failed:" << result;
            broken.push_back(refs[i]);
        } else {
            processed = true;
        }
    }
    for (DNSServiceRef ref : broken) {
        if (ref == m_sharedRef) {
            // The daemon connection itself is gone, and with it every operation.
            release();
            return WaitResult::Failed;
        }
        dropOwnRef(ref);
    }
    // Only now, with no call into the library on the stack, may a finished operation go.
    for (DNSServiceRef ref : m_finishedRefs) {
        dropOwnRef(ref);
    }
    m_finishedRefs.clear();
    if (!processed && m_ownRefs.empty() && !m_sharedRef) {
        return WaitResult::Failed;
    }
    return WaitResult::Processed;
}

void DnsSdConnection::finishWhenProcessed(DNSServiceRef ref)
{
    if (m_open && !m_sharedRef) {
        m_finishedRefs.push_back(ref);
    }
}

void DnsSdConnection::dropOwnRef(DNSServiceRef ref)
{
    const auto it = std::find(m_ownRefs.begin(), m_ownRefs.end(), ref);
    if (it != m_ownRefs.end()) {
        m_ownRefs.erase(it);
        m_binding.refDeallocate(ref);
    }
}

bool DnsSdConnection::waitForWake(int timeoutMs)
{
    if (m_wakeFd < 0) {
        return false;
    }
    pollfd fd = { m_wakeFd, POLLIN, 0 };
    if (pollRetrying(&fd, 1, timeoutMs) > 0 && (fd.revents & POLLIN)) {
        drainWake();
        return true;
    }
    return false;
}

void DnsSdConnection::wake()
{
    if (m_wakeFd >= 0) {
        const uint64_t one = 1;
        // Fails only when the counter is about to overflow, and then a wake-up is pending anyway.
        [[maybe_unused]] const ssize_t written = write(m_wakeFd, &one, sizeof(one));
    }
}

void DnsSdConnection::drainWake()
{
    if (m_wakeFd >= 0) {
        uint64_t count = 0;
        [[maybe_unused]] const ssize_t got = read(m_wakeFd, &count, sizeof(count));
    }
}

bool DnsSdConnection::release()
{
    if (!m_open) {
        return false;
    }
    m_open = false;
    m_finishedRefs.clear();
    // Newest first: resolves were started from the browse's replies.
    for (auto it = m_ownRefs.rbegin(); it != m_ownRefs.rend(); ++it) {
        m_binding.refDeallocate(*it);
    }
    m_ownRefs.clear();
    if (m_sharedRef) {
        m_binding.refDeallocate(m_sharedRef);
        m_sharedRef = nullptr;
    }
    return true;
}
