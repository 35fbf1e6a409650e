#include "platform/dnssdbinding.h"

#include <dlfcn.h>
#include <stdlib.h>

namespace {

// Remembered in place of an address when a function is missing, so that a missing function
// is looked up once like a present one.
char s_missingSymbol;

const char *const kSymbolNames[] = {
    "DNSServiceCreateConnection", "DNSServiceBrowse",        "DNSServiceResolve",
    "DNSServiceQueryRecord",      "DNSServiceProcessResult", "DNSServiceRefDeallocate",
    "DNSServiceRefSockFD",        "TXTRecordGetValuePtr",
};

using CreateConnectionFn = DNSServiceErrorType (*)(DNSServiceRef *);
using BrowseFn = DNSServiceErrorType (*)(DNSServiceRef *, DNSServiceFlags, uint32_t, const char *,
                                         const char *, DNSServiceBrowseReply, void *);
using ResolveFn
    = DNSServiceErrorType (*)(DNSServiceRef *, DNSServiceFlags, uint32_t, const char *,
                              const char *, const char *, DNSServiceResolveReply, void *);
using QueryRecordFn
    = DNSServiceErrorType (*)(DNSServiceRef *, DNSServiceFlags, uint32_t, const char *, uint16_t,
                              uint16_t, DNSServiceQueryRecordReply, void *);
using ProcessResultFn = DNSServiceErrorType (*)(DNSServiceRef);
using RefDeallocateFn = void (*)(DNSServiceRef);
using RefSockFdFn = int (*)(DNSServiceRef);
using TxtRecordGetValuePtrFn = const void *(*)(uint16_t, const void *, const char *, uint8_t *);

template<typename Fn> Fn toFunction(void *address)
{
    return reinterpret_cast<Fn>(address);
}

// Loading before main keeps the first scan free of the library's start-up cost and matches the
// program's life cycle: bound from start-up until exit.
const bool s_boundAtStartUp = DnsSdBinding::instance().isLoaded();

} // namespace

DnsSdBinding &DnsSdBinding::instance()
{
    static DnsSdBinding binding(kLibraryName);
    return binding;
}

DnsSdBinding::DnsSdBinding(const char *fileName)
{
    static_assert(sizeof(kSymbolNames) / sizeof(kSymbolNames[0]) == FunctionCount,
                  "one name per bound function");
    // Avahi's compatibility layer prints a warning on stderr for every program that uses it;
    // the user of a desktop tool cannot act on it. A value the user set wins.
    setenv("AVAHI_COMPAT_NOWARN", "1", 0);
    // RTLD_NODELETE: the handle is still given back at exit, but the code stays mapped, since
    // the D-Bus client underneath may hold exit handlers and state that outlive our last call.
    m_handle = dlopen(fileName, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    // Avahi's compatibility library refuses shared connections, and says so on stderr on every
    // attempt whatever AVAHI_COMPAT_NOWARN holds; its own warning function gives it away.
    m_lacksSharedConnections = m_handle && dlsym(m_handle, "avahi_warn_unsupported");
}

DnsSdBinding::~DnsSdBinding()
{
    if (m_handle) {
        dlclose(m_handle);
    }
}

void *DnsSdBinding::symbol(Function function)
{
    void *address = m_symbols[function].load(std::memory_order_acquire);
    if (!address) {
        address = m_handle ? dlsym(m_handle, kSymbolNames[function]) : nullptr;
        if (!address) {
            address = &s_missingSymbol;
        }
        m_symbols[function].store(address, std::memory_order_release);
    }
    return address == &s_missingSymbol ? nullptr : address;
}

DNSServiceErrorType DnsSdBinding::createConnection(DNSServiceRef *sdRef)
{
    auto fn = toFunction<CreateConnectionFn>(symbol(CreateConnection));
    return fn ? fn(sdRef) : kDNSServiceErr_ServiceNotRunning;
}

DNSServiceErrorType DnsSdBinding::browse(DNSServiceRef *sdRef, DNSServiceFlags flags,
                                         uint32_t interfaceIndex, const char *regtype,
                                         const char *domain, DNSServiceBrowseReply callBack,
                                         void *context)
{
    auto fn = toFunction<BrowseFn>(symbol(Browse));
    return fn ? fn(sdRef, flags, interfaceIndex, regtype, domain, callBack, context)
              : kDNSServiceErr_ServiceNotRunning;
}

DNSServiceErrorType DnsSdBinding::resolve(DNSServiceRef *sdRef, DNSServiceFlags flags,
                                          uint32_t interfaceIndex, const char *name,
                                          const char *regtype, const char *domain,
                                          DNSServiceResolveReply callBack, void *context)
{
    auto fn = toFunction<ResolveFn>(symbol(Resolve));
    return fn ? fn(sdRef, flags, interfaceIndex, name, regtype, domain, callBack, context)
              : kDNSServiceErr_ServiceNotRunning;
}

DNSServiceErrorType DnsSdBinding::queryRecord(DNSServiceRef *sdRef, DNSServiceFlags flags,
                                              uint32_t interfaceIndex, const char *fullname,
                                              uint16_t rrtype, uint16_t rrclass,
                                              DNSServiceQueryRecordReply callBack, void *context)
{
    auto fn = toFunction<QueryRecordFn>(symbol(QueryRecord));
    return fn ? fn(sdRef, flags, interfaceIndex, fullname, rrtype, rrclass, callBack, context)
              : kDNSServiceErr_ServiceNotRunning;
}

DNSServiceErrorType DnsSdBinding::processResult(DNSServiceRef sdRef)
{
    auto fn = toFunction<ProcessResultFn>(symbol(ProcessResult));
    return fn ? fn(sdRef) : kDNSServiceErr_ServiceNotRunning;
}

void DnsSdBinding::refDeallocate(DNSServiceRef sdRef)
{
    auto fn = toFunction<RefDeallocateFn>(symbol(RefDeallocate));
    if (fn) {
        fn(sdRef);
    }
}

int DnsSdBinding::refSockFd(DNSServiceRef sdRef)
{
    auto fn = toFunction<RefSockFdFn>(symbol(RefSockFd));
    return fn ? fn(sdRef) : -1;
}

const void *DnsSdBinding::txtRecordGetValuePtr(uint16_t txtLen, const void *txtRecord,
                                               const char *key, uint8_t *valueLen)
{
    auto fn = toFunction<TxtRecordGetValuePtrFn>(symbol(TxtRecordGetValuePtr));
    return fn ? fn(txtLen, txtRecord, key, valueLen) : nullptr;
}
