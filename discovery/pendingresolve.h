#ifndef PENDINGRESOLVE_H
#define PENDINGRESOLVE_H

#include "discovery/dnssdconnection.h"
#include "discovery/resolvequeue.h"

#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>

class AddressWatch;
class ResolveReply;

// One announced instance being resolved, then its host's address asked of the daemon, until it
// is reported or its time is up. ServiceResolveCallBack's context. Lives in the browse thread.
class PendingResolve : public QObject
{
public:
    // What became of the instance: its reply, the address to report (empty when none) and the
    // watch of its host's address records, still running, for whoever wants to follow the host
    // (null when there is none). Then the end of the resolve, after which it may be destroyed
    // from the event loop.
    using Report = std::function<void(const ResolveReply &reply, const QString &address,
                                      std::unique_ptr<AddressWatch> watch)>;
    using Ended = std::function<void(PendingResolve *resolve)>;

    PendingResolve(const ResolveQueue::Instance &instance, Report report, Ended ended);
    ~PendingResolve() override;

    // The connection must outlive this resolve.
    DNSServiceErrorType start(DnsSdConnection &connection, int timeLimitMs);
    const ResolveQueue::Instance &instance() const { return m_instance; }
    // Whether the resolve answered and was reported, with an address or without one.
    bool reported() const { return m_reported; }

    // From ServiceResolveCallBack.
    void answered(const ResolveReply &reply);
    void failed();

private:
    void hostAddressAdded(const QString &address);
    void timedOut();
    void conclude(const QString &hostAddress);
    void finish();

    const ResolveQueue::Instance m_instance;
    const Report m_report;
    const Ended m_ended;
    DnsSdConnection *m_connection = nullptr;
    std::unique_ptr<DnsSdConnection::Operation> m_operation;
    QTimer m_deadline;
    std::unique_ptr<ResolveReply> m_reply;
    bool m_reported = false;
    bool m_finished = false;
    // Last, so that it goes first: it calls back into this object.
    std::unique_ptr<AddressWatch> m_watch;
};

// The reply function handed to DNSServiceResolve; its context is the instance's PendingResolve.
void ServiceResolveCallBack(DNSServiceRef sdRef, DNSServiceFlags flags, uint32_t interfaceIndex,
                            DNSServiceErrorType errorCode, const char *fullname,
                            const char *hosttarget, uint16_t port, uint16_t txtLen,
                            const unsigned char *txtRecord, void *context);

#endif // PENDINGRESOLVE_H
