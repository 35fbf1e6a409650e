#ifndef DNSSDBINDING_H
#define DNSSDBINDING_H

#include <atomic>
#include <cstdint>
#include <memory>

// The few dns_sd declarations the program needs, written out here so that the program builds
// without the library's development files and never links against the library: it is loaded
// at run time and may be missing altogether.
using DNSServiceRef = struct _DNSServiceRef_t *;
using DNSServiceFlags = uint32_t;
using DNSServiceErrorType = int32_t;

using DNSServiceBrowseReply
    = void (*)(DNSServiceRef sdRef, DNSServiceFlags flags, uint32_t interfaceIndex,
               DNSServiceErrorType errorCode, const char *serviceName, const char *regtype,
               const char *replyDomain, void *context);
// port is in network byte order; txtRecord is txtLen bytes, not NUL-terminated.
using DNSServiceResolveReply
    = void (*)(DNSServiceRef sdRef, DNSServiceFlags flags, uint32_t interfaceIndex,
               DNSServiceErrorType errorCode, const char *fullname, const char *hosttarget,
               uint16_t port, uint16_t txtLen, const unsigned char *txtRecord, void *context);
// rdata is rdlen bytes of the record's data as it is on the wire.
using DNSServiceQueryRecordReply
    = void (*)(DNSServiceRef sdRef, DNSServiceFlags flags, uint32_t interfaceIndex,
               DNSServiceErrorType errorCode, const char *fullname, uint16_t rrtype,
               uint16_t rrclass, uint16_t rdlen, const void *rdata, uint32_t ttl, void *context);

constexpr DNSServiceErrorType kDNSServiceErr_NoError = 0;
constexpr DNSServiceErrorType kDNSServiceErr_Unknown = -65537;
constexpr DNSServiceErrorType kDNSServiceErr_Unsupported = -65544;
constexpr DNSServiceErrorType kDNSServiceErr_ServiceNotRunning = -65563;
constexpr DNSServiceFlags kDNSServiceFlagsAdd = 0x2;
constexpr DNSServiceFlags kDNSServiceFlagsShareConnection = 0x4000;
constexpr uint16_t kDNSServiceType_A = 1;
constexpr uint16_t kDNSServiceClass_IN = 1;

// The DNS-SD client library, bound at run time: the one place that knows how this platform finds
// it (dlopen here; a Windows build would load dnssd.dll beside it). Every call goes through here;
// when the library or one of its functions is missing the call does not reach it and yields
// kDNSServiceErr_ServiceNotRunning, nothing, -1 or null instead.
class DnsSdBinding
{
public:
    // The file the program loads: the system's DNS-SD compatibility library.
    static constexpr const char *kLibraryName = "libdns_sd.so.1";

    // The program-wide binding, loaded during static initialisation, before main.
    static DnsSdBinding &instance();

    explicit DnsSdBinding(const char *fileName);
    ~DnsSdBinding();
    DnsSdBinding(const DnsSdBinding &) = delete;
    DnsSdBinding &operator=(const DnsSdBinding &) = delete;

    bool isLoaded() const { return m_handle != nullptr; }
    // True when the library is known to answer DNSServiceCreateConnection with
    // kDNSServiceErr_Unsupported, so that the call can be skipped.
    bool lacksSharedConnections() const { return m_lacksSharedConnections; }

    DNSServiceErrorType createConnection(DNSServiceRef *sdRef);
    DNSServiceErrorType browse(DNSServiceRef *sdRef, DNSServiceFlags flags, uint32_t interfaceIndex,
                               const char *regtype, const char *domain,
                               DNSServiceBrowseReply callBack, void *context);
    DNSServiceErrorType resolve(DNSServiceRef *sdRef, DNSServiceFlags flags,
                                uint32_t interfaceIndex, const char *name, const char *regtype,
                                const char *domain, DNSServiceResolveReply callBack, void *context);
    DNSServiceErrorType queryRecord(DNSServiceRef *sdRef, DNSServiceFlags flags,
                                    uint32_t interfaceIndex, const char *fullname, uint16_t rrtype,
                                    uint16_t rrclass, DNSServiceQueryRecordReply callBack,
                                    void *context);
    DNSServiceErrorType processResult(DNSServiceRef sdRef);
    void refDeallocate(DNSServiceRef sdRef);
    int refSockFd(DNSServiceRef sdRef);
    const void *txtRecordGetValuePtr(uint16_t txtLen, const void *txtRecord, const char *key,
                                     uint8_t *valueLen);

private:
    enum Function {
        CreateConnection,
        Browse,
        Resolve,
        QueryRecord,
        ProcessResult,
        RefDeallocate,
        RefSockFd,
        TxtRecordGetValuePtr,
        FunctionCount
    };

    void *symbol(Function function);

    void *m_handle = nullptr;
    bool m_lacksSharedConnections = false;
    // Looked up at first use; the browse thread and the GUI thread may race on the first
    // lookup, which is harmless because both find the same address.
    std::atomic<void *> m_symbols[FunctionCount] = {};
};

// Owns one DNSServiceRef: the operation (or connection) ends when the holder goes. A reference
// created on a shared connection must go before that connection's own holder.
struct DnsSdRefRelease
{
    void operator()(DNSServiceRef ref) const { DnsSdBinding::instance().refDeallocate(ref); }
};
using DnsSdRef = std::unique_ptr<_DNSServiceRef_t, DnsSdRefRelease>;

#endif // DNSSDBINDING_H
