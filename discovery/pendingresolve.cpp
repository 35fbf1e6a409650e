#include "pendingresolve.h"

#include "base/logtext.h"
#include "discovery/resolvereply.h"
#include "platform/hostlookup.h"

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
    m_lookup = std::make_unique<HostLookup>(m_reply->hostTarget());
    connect(m_lookup.get(), &HostLookup::finished, this,
            [this](const QString &address) { lookedUp(address); });
}

void PendingResolve::failed()
{
    // An error after the answer changes nothing: the host lookup is under way.
    if (!m_reply) {
        finish();
    }
}

void PendingResolve::lookedUp(const QString &hostAddress)
{
    if (m_finished) {
        return;
    }
    m_report(*m_reply, m_reply->addressText(hostAddress));
    finish();
}

void PendingResolve::timedOut()
{
    if (m_reply) {
        // The resolver is still at the host name: for the report it has none.
        m_lookup.reset();
        lookedUp(QString());
        return;
    }
    qCDebug(lcDnsSd).noquote() << "no resolve answer for"
                               << LogText::quoted(QString::fromUtf8(m_instance.name))
                               << "in time; given up";
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
