#ifndef BROWSESESSION_H
#define BROWSESESSION_H

#include "discovery/dnssdconnection.h"
#include "discovery/resolvequeue.h"

#include <QElapsedTimer>
#include <QObject>
#include <QSet>
#include <QTimer>

#include <atomic>
#include <map>
#include <memory>
#include <vector>

class AddressWatch;
class DiscoveryReports;
class PendingResolve;
class ResolveReply;

// One run of the mDNS browse, from its start to the stop: the connection, the browse of
// "_encoder._tcp" and the resolves of the instances it hears of. It lives in the browse thread,
// on that thread's event loop, and is BrowserCallBack's context.
class BrowseSession : public QObject
{
    Q_OBJECT
public:
    // Resolves at a time. A resolve whose host has no address record never answers and holds
    // its slot until its time is up; a few slots keep a crowd of those from stalling the rest.
    static constexpr int kMaxResolves = 16;
    static constexpr int kMaxWaiting = 1024;
    // From the resolve to the host's address. A device on the link answers within milliseconds,
    // or within one mDNS retry when a packet was lost.
    static constexpr int kResolveLimitMs = 4000;
    // Reported instances whose host's address is followed after the report, so that a device
    // that moves to another address is shown there. With Avahi each holds a thread and a D-Bus
    // connection, as a running resolve does.
    static constexpr int kMaxWatched = 32;

    // Reports announcements and withdrawals to the service; once stopRequested is
    // true, nothing more. unresolved counts the instances heard of that gave no address, and
    // at the end of the session also those still waiting or resolving.
    BrowseSession(DiscoveryReports &reports, const std::atomic<bool> &stopRequested,
                  std::atomic<int> &unresolved);
    ~BrowseSession() override;

    DNSServiceErrorType start();

    // From BrowserCallBack. False when the instance is known already.
    bool instanceAdded(const ResolveQueue::Instance &instance);
    // The instance was withdrawn (a goodbye, or the daemon let it expire).
    void instanceRemoved(const ResolveQueue::Instance &instance);

private:
    // What the service was told of an instance, and the watch that follows its host.
    struct Reported
    {
        QString ip;
        QString mac;
        QString firmware;
        QString name;
        std::unique_ptr<AddressWatch> watch;
    };

    void report(const QByteArray &key, const ResolveReply &reply, const QString &address,
                std::unique_ptr<AddressWatch> watch);
    void follow(const QByteArray &key, Reported &reported, std::unique_ptr<AddressWatch> watch);
    // The host of a reported instance has gained an address.
    void moved(const QByteArray &key, const QString &hostAddress);
    void noteUnresolved(const QByteArray &key);
    // A watch may be the one whose reply is being processed: it is destroyed later, from the
    // event loop.
    void discard(std::unique_ptr<AddressWatch> watch);
    // The resolve has ended and gives its slot to the next; it is destroyed later, from the
    // event loop, as its own reply may be the one being processed.
    void retire(PendingResolve *resolve);
    void startWaiting();
    // Wakes the line when its next retry falls due.
    void armRetry();
    void lose(DNSServiceErrorType code);

    DiscoveryReports &m_reports;
    const std::atomic<bool> &m_stopRequested;
    // Before every operation: it must outlive them.
    DnsSdConnection m_connection;
    std::unique_ptr<DnsSdConnection::Operation> m_browse;
    ResolveQueue m_queue;
    std::vector<std::unique_ptr<PendingResolve>> m_running;
    std::vector<std::unique_ptr<PendingResolve>> m_retired;
    // By instance key; at most kMaxWaiting, since each was heard of and resolved.
    std::map<QByteArray, Reported> m_reported;
    std::vector<std::unique_ptr<AddressWatch>> m_discarded;
    int m_watched = 0;
    // Keys of instances that gave no address; bounded like the instances waiting.
    QSet<QByteArray> m_unresolvedKeys;
    std::atomic<int> &m_unresolved;
    QElapsedTimer m_clock;
    QTimer m_retry;
    bool m_lost = false;
    bool m_saidWatchLimit = false;
};

// The reply function handed to DNSServiceBrowse; its context is the browse's BrowseSession.
void BrowserCallBack(DNSServiceRef sdRef, DNSServiceFlags flags, uint32_t interfaceIndex,
                     DNSServiceErrorType errorCode, const char *serviceName, const char *regtype,
                     const char *replyDomain, void *context);

#endif // BROWSESESSION_H
