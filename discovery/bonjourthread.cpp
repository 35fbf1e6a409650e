#include "bonjourthread.h"

#include "discovery/bonjourwinservice.h"
#include "discovery/browsesession.h"
#include "discovery/logtext.h"
#include "discovery/pendingresolve.h"
#include "discovery/resolvereply.h"

#include <QDebug>

namespace {

// Where a user without a DNS-SD service on this platform gets one; only shown, never fetched.
const char *const kDnsSdDownloadPage = "https://avahi.org/";

QString unavailableMessage()
{
    return QStringLiteral("Please check bonjour service status or download <a href=\"%1\">Bonjour "
                          "Service</a>")
        .arg(QLatin1String(kDnsSdDownloadPage));
}

} // namespace

BonjourThread::BonjourThread(BonjourWinService *service) : m_service(service) { }

void BonjourThread::startBrowse()
{
    if (isRunning()) {
        return;
    }
    // Returns at once; the earlier run's work comes before this one.
    waitUntilEnded();
    // Cleared before the thread runs, so that a stop arriving while the browse starts is never
    // undone by the start.
    m_stopRequested.store(false, std::memory_order_release);
    start(QThread::InheritPriority);
}

void BonjourThread::requestStop()
{
    m_stopRequested.store(true, std::memory_order_release);
    // Before exec() has begun too: the loop then ends as soon as it starts.
    quit();
}

void BonjourThread::waitUntilEnded()
{
    wait();
    [[maybe_unused]] const int runs = m_runsEnded.load(std::memory_order_acquire);
}

void BonjourThread::run()
{
    {
        // Everything the browse holds lives in here and is released on the way out, once,
        // in this thread, however the run ends.
        BrowseSession session(this);
        const DNSServiceErrorType result = session.start();
        if (result != kDNSServiceErr_NoError) {
            qDebug().noquote().nospace() << "Start failed to run DNSServiceBrowse: " << result;
            emit m_service->showWarningMessage(unavailableMessage(), 0);
        } else {
            qDebug().noquote() << "Start successfully to run DNSServiceBrowse";
            exec();
        }
    }
    m_runsEnded.fetch_add(1, std::memory_order_release);
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
    // A withdrawal has nothing to resolve.
    if (!(flags & kDNSServiceFlagsAdd)) {
        return;
    }
    auto *session = static_cast<BrowseSession *>(context);
    const ResolveQueue::Instance instance { interfaceIndex, ResolveReply::boundedText(serviceName),
                                            ResolveReply::boundedText(regtype),
                                            ResolveReply::boundedText(replyDomain) };
    if (session->instanceAdded(instance)) {
        qDebug().noquote().nospace()
            << " BrowserCallBack called! " << LogText::quoted(QString::fromUtf8(instance.name));
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
