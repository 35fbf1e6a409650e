#include "pendingresolve.h"

#include "base/logtext.h"
#include "discovery/addresswatch.h"
#include "discovery/resolvereply.h"

#include <QDebug>

PendingResolve::PendingResolve(const ResolveQueue::Instance &instance, Report report, Ended ended)
    : m_instance(instance), m_report(std::move(report)), m_ended(std::move(ended))
{
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, [this] { timedOut(); });
}

PendingResolve::~PendingResolve() = default;

DNSServiceErrorType PendingResolve::start(DnsSdConnection &connection, int timeLimitMs)
{
    m_connection = &connection;
    const DNSServiceErrorType result = connection.resolve(
        &m_operation, m_instance.interfaceIndex, m_instance.name.constData(),
        m_instance.type.constData(), m_instance.domain.constData(), &ServiceResolveCallBack, this,
        [this](DNSServiceErrorType) { failed(); });
    if (result == kDNSServiceErr_NoError) {
        m_deadline.start(timeLimitMs);
    }
    return result;
}

void PendingResolve::answered(const ResolveReply &reply)
{
    // A resolve may answer again (another interface, a changed record); the first answer is
    // the report.
    if (m_finished || m_reply) {
        return;
    }
    m_reply = std::make_unique<ResolveReply>(reply);
    // The resolve has given what it is for; with Avahi it holds a thread and a D-Bus connection.
    // It goes once the event that carries this reply is done.
    QMetaObject::invokeMethod(
        this, [this] { m_operation.reset(); }, Qt::QueuedConnection);
    // The host's address from the daemon, not from the system's resolver: nss-mdns asks the
    // unicast DNS server about ".local" first, and one that never answers holds it for longer
    // than this resolve may take.
    m_watch = std::make_unique<AddressWatch>(m_reply->hostTarget(), m_instance.interfaceIndex);
    connect(m_watch.get(), &AddressWatch::added, this,
            [this](const QString &address) { hostAddressAdded(address); });
    const DNSServiceErrorType result = m_watch->start(*m_connection);
    if (result != kDNSServiceErr_NoError) {
        qCDebug(lcDnsSd).noquote()
            << "cannot ask for the address of"
            << LogText::quoted(QString::fromUtf8(m_reply->hostTarget())) << "error" << result;
        m_watch.reset();
        // The "interface" value may still give an address.
        conclude(QString());
    }
}

void PendingResolve::failed()
{
    // An error after the answer changes nothing: the address query is under way.
    if (!m_reply) {
        finish();
    }
}

void PendingResolve::hostAddressAdded(const QString &address)
{
    // A record no row may take (loopback, say) is passed over: a usable one may follow, and the
    // "interface" value is still there when the time is up.
    if (!m_finished && !ResolveReply::dottedQuad(address).isEmpty()) {
        conclude(address);
    }
}

void PendingResolve::timedOut()
{
    if (m_reply) {
        // No usable address record in time: for the report the host has none.
        conclude(QString());
        return;
    }
    qCDebug(lcDnsSd).noquote() << "no resolve answer for"
                               << LogText::quoted(QString::fromUtf8(m_instance.name))
                               << "in time; tried again later";
    finish();
}

void PendingResolve::conclude(const QString &hostAddress)
{
    if (m_finished) {
        return;
    }
    m_reported = true;
    if (m_watch) {
        // The watch may be running this very call: it is handed on, never destroyed here.
        m_watch->disconnect(this);
    }
    m_report(*m_reply, m_reply->addressText(hostAddress), std::move(m_watch));
    finish();
}

void PendingResolve::finish()
{
    if (!m_finished) {
        m_finished = true;
        m_deadline.stop();
        m_ended(this);
    }
}

void ServiceResolveCallBack(DNSServiceRef sdRef, DNSServiceFlags flags, uint32_t interfaceIndex,
                            DNSServiceErrorType errorCode, const char *fullname,
                            const char *hosttarget, uint16_t port, uint16_t txtLen,
                            const unsigned char *txtRecord, void *context)
{
    Q_UNUSED(sdRef)
    Q_UNUSED(flags)
    Q_UNUSED(interfaceIndex)
    Q_UNUSED(port)
    auto *resolve = static_cast<PendingResolve *>(context);
    if (errorCode != kDNSServiceErr_NoError) {
        qDebug().noquote().nospace() << "Bonjour resolve error occurred: " << errorCode;
        resolve->failed();
        return;
    }
    resolve->answered(ResolveReply(fullname, hosttarget, txtLen, txtRecord));
}
