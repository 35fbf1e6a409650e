#include "browsesession.h"

#include "base/logtext.h"
#include "discovery/addresswatch.h"
#include "discovery/discoveryreports.h"
#include "discovery/pendingresolve.h"
#include "discovery/resolvereply.h"

#include <QDebug>

#include <algorithm>

namespace {

const char *const kServiceType = "_encoder._tcp";

} // namespace

BrowseSession::BrowseSession(DiscoveryReports &reports, const std::atomic<bool> &stopRequested,
                             std::atomic<int> &unresolved)
    : m_reports(reports)
    , m_stopRequested(stopRequested)
    , m_queue(kMaxResolves, kMaxWaiting)
    , m_unresolved(unresolved)
{
    m_unresolved.store(0, std::memory_order_relaxed);
    m_clock.start();
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &BrowseSession::startWaiting);
}

// The members go in reverse order: watches and resolves, then the browse, then the connection
// they ran on.
BrowseSession::~BrowseSession()
{
    // Heard of but never given an address while the browse ran: unresolved too.
    for (const QByteArray &key : m_queue.known()) {
        noteUnresolved(key);
    }
}

DNSServiceErrorType BrowseSession::start()
{
    const auto lost = [this](DNSServiceErrorType code) { lose(code); };
    const DNSServiceErrorType result = m_connection.open(lost);
    if (result != kDNSServiceErr_NoError) {
        return result;
    }
    return m_connection.browse(&m_browse, kServiceType, &BrowserCallBack, this, lost);
}

bool BrowseSession::instanceAdded(const ResolveQueue::Instance &instance)
{
    const auto reported = m_reported.find(ResolveQueue::keyOf(instance));
    const bool resolvedBefore = reported != m_reported.end() && !reported->second.ip.isEmpty();
    if (m_queue.add(instance, resolvedBefore) != ResolveQueue::Added::Waiting) {
        return false;
    }
    startWaiting();
    return true;
}

void BrowseSession::instanceRemoved(const ResolveQueue::Instance &instance)
{
    const QByteArray key = ResolveQueue::keyOf(instance);
    m_queue.forget(instance);
    const auto it = m_reported.find(key);
    if (m_stopRequested.load(std::memory_order_acquire) || it == m_reported.end()
        || it->second.ip.isEmpty()) {
        return;
    }
    Reported &reported = it->second;
    qCDebug(lcDnsSd).noquote() << LogText::quoted(reported.name) << "withdrew its announcement";
    follow(key, reported, nullptr);
    m_reports.announcementEnded(reported.ip, reported.mac);
}

void BrowseSession::report(const QByteArray &key, const ResolveReply &reply, const QString &address,
                           std::unique_ptr<AddressWatch> watch)
{
    // Once a stop is asked for nothing more is reported; the loop ends after this event.
    if (m_stopRequested.load(std::memory_order_acquire)) {
        discard(std::move(watch));
        return;
    }
    qDebug().noquote().nospace() << "ServiceResolveCallBack called! " << address << ","
                                 << LogText::quoted(reply.txtDecoded("MAC")) << " ,"
                                 << LogText::quoted(reply.txtDecoded("FW")) << ","
                                 << LogText::quoted(reply.txtDecoded("Code"));
    if (address.isEmpty()) {
        qCDebug(lcDnsSd).noquote()
            << "no IPv4 address for" << LogText::quoted(reply.nameText()) << "on host"
            << LogText::quoted(reply.hostTarget()) << "nor in its interface value; not reported";
        noteUnresolved(key);
        discard(std::move(watch));
        return;
    }
    m_unresolvedKeys.remove(key);
    m_unresolved.store(m_unresolvedKeys.size(), std::memory_order_relaxed);
    const QString mac = reply.macText();
    const QString firmware = reply.firmwareText();
    const QString name = reply.nameText();
    auto it = m_reported.find(key);
    if (it == m_reported.end() && int(m_reported.size()) < kMaxWaiting) {
        it = m_reported.emplace(key, Reported()).first;
    }
    if (it != m_reported.end()) {
        Reported &reported = it->second;
        // Announced again from another address: the old row is no longer true.
        if (!reported.ip.isEmpty() && reported.ip != address) {
            m_reports.announcementWithdrawn(reported.ip, reported.mac);
        }
        reported.ip = address;
        reported.mac = mac;
        reported.firmware = firmware;
        reported.name = name;
        follow(key, reported, std::move(watch));
    } else {
        discard(std::move(watch));
    }
    m_reports.deviceAnnounced(address, mac, firmware, name);
}

void BrowseSession::follow(const QByteArray &key, Reported &reported,
                           std::unique_ptr<AddressWatch> watch)
{
    if (reported.watch) {
        --m_watched;
        discard(std::move(reported.watch));
    }
    if (!watch) {
        return;
    }
    if (m_watched >= kMaxWatched) {
        if (!m_saidWatchLimit) {
            m_saidWatchLimit = true;
            qCWarning(lcDnsSd).noquote()
                << "following the addresses of" << kMaxWatched << "instances already; not of"
                << LogText::quoted(reported.name) << "(said once per browse)";
        }
        discard(std::move(watch));
        return;
    }
    ++m_watched;
    connect(watch.get(), &AddressWatch::added, this,
            [this, key](const QString &address) { moved(key, address); });
    reported.watch = std::move(watch);
}

void BrowseSession::moved(const QByteArray &key, const QString &hostAddress)
{
    const QString address = ResolveReply::dottedQuad(hostAddress);
    const auto it = m_reported.find(key);
    if (m_stopRequested.load(std::memory_order_acquire) || address.isEmpty()
        || it == m_reported.end() || it->second.ip == address) {
        return;
    }
    Reported &reported = it->second;
    qCDebug(lcDnsSd).noquote() << LogText::quoted(reported.name) << "moved from" << reported.ip
                               << "to" << address;
    m_reports.announcementWithdrawn(reported.ip, reported.mac);
    reported.ip = address;
    m_reports.deviceAnnounced(address, reported.mac, reported.firmware, reported.name);
}

void BrowseSession::noteUnresolved(const QByteArray &key)
{
    if (m_unresolvedKeys.size() < kMaxWaiting) {
        m_unresolvedKeys.insert(key);
    }
    m_unresolved.store(m_unresolvedKeys.size(), std::memory_order_relaxed);
}

void BrowseSession::discard(std::unique_ptr<AddressWatch> watch)
{
    if (!watch) {
        return;
    }
    watch->disconnect(this);
    m_discarded.push_back(std::move(watch));
    if (m_discarded.size() == 1) {
        QMetaObject::invokeMethod(
            this, [this] { m_discarded.clear(); }, Qt::QueuedConnection);
    }
}

void BrowseSession::retire(PendingResolve *resolve)
{
    const auto it
        = std::find_if(m_running.begin(), m_running.end(),
                       [resolve](const auto &running) { return running.get() == resolve; });
    if (it == m_running.end()) {
        return;
    }
    const QByteArray key = ResolveQueue::keyOf(resolve->instance());
    if (!resolve->reported()) {
        noteUnresolved(key);
    }
    // No answer, or no address, in time: tried again later, behind whatever is new.
    if (m_unresolvedKeys.contains(key)) {
        m_queue.retryLater(resolve->instance(), m_clock.elapsed());
    } else {
        m_queue.finished(resolve->instance());
    }
    m_retired.push_back(std::move(*it));
    m_running.erase(it);
    if (m_retired.size() == 1) {
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_retired.clear();
                startWaiting();
            },
            Qt::QueuedConnection);
    }
}

void BrowseSession::startWaiting()
{
    ResolveQueue::Instance next;
    while (!m_lost && m_queue.takeNext(&next, m_clock.elapsed())) {
        auto resolve = std::make_unique<PendingResolve>(
            next,
            [this, key = ResolveQueue::keyOf(next)](const ResolveReply &reply,
                                                    const QString &address,
                                                    std::unique_ptr<AddressWatch> watch) {
                report(key, reply, address, std::move(watch));
            },
            [this](PendingResolve *ended) { retire(ended); });
        const DNSServiceErrorType result = resolve->start(m_connection, kResolveLimitMs);
        if (result != kDNSServiceErr_NoError) {
            // Out of daemon connections, say; the next instance may fare better.
            qCWarning(lcDnsSd).noquote()
                << "cannot resolve" << LogText::quoted(QString::fromUtf8(next.name)) << "error"
                << result;
            noteUnresolved(ResolveQueue::keyOf(next));
            m_queue.retryLater(next, m_clock.elapsed());
            continue;
        }
        m_running.push_back(std::move(resolve));
    }
    armRetry();
}

void BrowseSession::armRetry()
{
    const qint64 due = m_queue.nextRetryAt();
    if (due != LLONG_MAX && !m_lost) {
        // When it falls due, or once a slot frees if none is free then: a resolve ending
        // starts the waiting ones itself.
        m_retry.start(int(std::max<qint64>(0, due - m_clock.elapsed())));
    }
}

void BrowseSession::lose(DNSServiceErrorType code)
{
    // The daemon is gone, and with it the browse: nothing arrives until the browse is started
    // again. What runs ends with its time limit.
    qCWarning(lcDnsSd) << "the browse has lost the daemon:" << code;
    m_lost = true;
}

void BrowserCallBack(DNSServiceRef sdRef, DNSServiceFlags flags, uint32_t interfaceIndex,
                     DNSServiceErrorType errorCode, const char *serviceName, const char *regtype,
                     const char *replyDomain, void *context)
{
    Q_UNUSED(sdRef)
    if (errorCode != kDNSServiceErr_NoError) {
        qDebug().noquote().nospace() << "Bonjour browser error occurred: " << errorCode;
        return;
    }
    auto *session = static_cast<BrowseSession *>(context);
    const ResolveQueue::Instance instance { interfaceIndex, ResolveReply::boundedText(serviceName),
                                            ResolveReply::boundedText(regtype),
                                            ResolveReply::boundedText(replyDomain) };
    if (!(flags & kDNSServiceFlagsAdd)) {
        session->instanceRemoved(instance);
        return;
    }
    if (session->instanceAdded(instance)) {
        qDebug().noquote().nospace()
            << " BrowserCallBack called! " << LogText::quoted(QString::fromUtf8(instance.name));
    }
}
