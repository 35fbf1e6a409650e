#include "bonjourthread.h"

#include "discovery/bonjourwinservice.h"
#include "discovery/dnssdconnection.h"
#include "discovery/resolvereply.h"

#include <QDebug>

namespace {

const char *const kServiceType = "_encoder._tcp";
// Where a user without a DNS-SD service on this platform gets one; only shown, never fetched.
const char *const kDnsSdDownloadPage = "https://avahi.org/";
// After losing the daemon, the loop waits this long between checks when it has nothing else to
// wait on.
constexpr int kRetryPauseMs = 100;

QString unavailableMessage()
{
    return QStringLiteral("Please check bonjour service status or download <a href=\"%1\">Bonjour "
                          "Service</a>")
        .arg(QLatin1String(kDnsSdDownloadPage));
}

} // namespace

BonjourThread::BonjourThread(BonjourWinService *service) : m_service(service) { }

void BonjourThread::requestStop()
{
    m_stopRequested = true;
    DnsSdConnection::shared().wake();
}

void BonjourThread::waitUntilEnded()
{
    wait();
    [[maybe_unused]] const int runs = m_runsEnded.load(std::memory_order_acquire);
}

void BonjourThread::run()
{
    browse();
    m_runsEnded.fetch_add(1, std::memory_order_release);
}

void BonjourThread::browse()
{
    DnsSdConnection &connection = DnsSdConnection::shared();
    // The library's answer is not needed here: without a connection the browse fails and says why.
    connection.open();
    const DNSServiceErrorType result
        = connection.browse(0, kServiceType, nullptr, &BrowserCallBack, m_service);
    if (result != kDNSServiceErr_NoError) {
        qDebug().noquote().nospace() << "Start failed to run DNSServiceBrowse: " << result;
        m_stopRequested = true;
        connection.release();
        emit m_service->showWarningMessage(unavailableMessage(), 0);
        return;
    }
    qDebug().noquote() << "Start successfully to run DNSServiceBrowse";

    // No pause between rounds: the wait itself blocks until the daemon has something or a stop
    // arrives, so nothing spins, and the browse reply and the resolve reply that follows it a
    // few milliseconds later are each handled as soon as they come.
    while (!m_stopRequested) {
        if (connection.processNext(-1) == DnsSdConnection::WaitResult::Failed && !m_stopRequested) {
            // The daemon is gone; nothing will arrive until the browse is started again.
            if (!connection.waitForWake(-1)) {
                msleep(kRetryPauseMs);
            }
        }
    }
    connection.release();
}

void BrowserCallBack(DNSServiceRef sdRef, DNSServiceFlags flags, uint32_t interfaceIndex,
                     DNSServiceErrorType errorCode, const char *serviceName, const char *regtype,
                     const char *replyDomain, void *context)
{
    Q_UNUSED(sdRef)
    Q_UNUSED(flags)
    if (errorCode != kDNSServiceErr_NoError) {
        qDebug().noquote().nospace() << "Bonjour browser error occurred: " << errorCode;
        return;
    }
    // The resolve ends with its reply or with the connection, whichever comes first.
    DnsSdConnection::shared().resolve(interfaceIndex, serviceName, regtype, replyDomain,
                                      &ServiceResolveCallBack, context);
    // The name comes from the network: never read past the longest name DNS-SD allows.
    const auto nameLength = static_cast<int>(qstrnlen(serviceName, ResolveReply::kMaxDomainName));
    qDebug().noquote().nospace() << " BrowserCallBack called! "
                                 << QString::fromUtf8(serviceName, nameLength);
}

void ServiceResolveCallBack(DNSServiceRef sdRef, DNSServiceFlags flags, uint32_t interfaceIndex,
                            DNSServiceErrorType errorCode, const char *fullname,
                            const char *hosttarget, uint16_t port, uint16_t txtLen,
                            const unsigned char *txtRecord, void *context)
{
    Q_UNUSED(flags)
    Q_UNUSED(interfaceIndex)
    Q_UNUSED(port)
    // One reply is all the report needs; later ones would only repeat the instance.
    DnsSdConnection::shared().finishWhenProcessed(sdRef);
    // A resolve fails when its instance has gone (the browse resolves withdrawals too); its
    // empty reply is no device.
    if (errorCode != kDNSServiceErr_NoError) {
        qDebug().noquote().nospace() << "Bonjour resolve error occurred: " << errorCode;
        return;
    }
    auto *service = static_cast<BonjourWinService *>(context);
    const ResolveReply reply(fullname, hosttarget, txtLen, txtRecord);
    // A host name that nobody answers keeps the resolver busy for seconds; a stop must not wait
    // for it, and a report built on an abandoned lookup would carry the wrong address.
    const auto *thread = dynamic_cast<BonjourThread *>(QThread::currentThread());
    const std::atomic<bool> *stopRequested = thread ? &thread->m_stopRequested : nullptr;
    const QString address = reply.addressText(stopRequested);
    if (stopRequested && stopRequested->load()) {
        return;
    }
    qDebug().noquote().nospace() << "ServiceResolveCallBack called! " << address << ","
                                 << QString::fromLatin1(reply.txtValue("MAC")) << " ,"
                                 << QString::fromLatin1(reply.txtValue("FW")) << ","
                                 << QString::fromLatin1(reply.txtValue("Code"));
    emit service->deviceMacFound(address, reply.macText(), reply.firmwareText(), reply.nameText());
}
