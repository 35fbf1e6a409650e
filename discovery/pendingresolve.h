#ifndef PENDINGRESOLVE_H
#define PENDINGRESOLVE_H

#include "discovery/dnssdconnection.h"
#include "discovery/resolvequeue.h"

#include <QObject>
#include <QTimer>

#include <memory>

class BrowseSession;
class HostLookup;
class ResolveReply;

// One announced instance being resolved, then its host name looked up, until it is reported or
// its time is up. ServiceResolveCallBack's context. Lives in the browse thread.
class PendingResolve : public QObject
{
public:
    PendingResolve(BrowseSession *session, const ResolveQueue::Instance &instance);
    ~PendingResolve() override;

    DNSServiceErrorType start(DnsSdConnection &connection, int timeLimitMs);
    const ResolveQueue::Instance &instance() const { return m_instance; }

    // From ServiceResolveCallBack.
    void answered(const ResolveReply &reply);
    void failed();

private:
    void lookedUp(const QString &hostAddress);
    void timedOut();
    void finish();

    BrowseSession *const m_session;
    const ResolveQueue::Instance m_instance;
    std::unique_ptr<DnsSdConnection::Operation> m_operation;
    QTimer m_deadline;
    std::unique_ptr<ResolveReply> m_reply;
    bool m_finished = false;
    // Last, so that it goes first: once abandoned, the lookup never calls back.
    std::unique_ptr<HostLookup> m_lookup;
};

#endif // PENDINGRESOLVE_H
