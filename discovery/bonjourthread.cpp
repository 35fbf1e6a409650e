#include "bonjourthread.h"

#include "discovery/bonjourwinservice.h"
#include "discovery/browsesession.h"

#include <QDebug>

namespace {

// Linux has no DNS-SD service to download: the daemon is a package of the distribution.
QString unavailableMessage()
{
    return QStringLiteral("Please check bonjour service status or download <a href=\"%1\">Bonjour "
                          "Service</a>")
        .arg(QLatin1String("https://avahi.org/"));
}

} // namespace

BonjourThread::BonjourThread(BonjourWinService *service, std::atomic<int> &unresolved)
    : m_service(service), m_unresolved(unresolved)
{
}

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
    launch();
}

void BonjourThread::requestStop()
{
    m_stopRequested.store(true, std::memory_order_release);
    // Before exec() has begun too: the loop then ends as soon as it starts.
    quit();
}

void BonjourThread::work()
{
    // Everything the browse holds lives in here and is released on the way out, once, in this
    // thread, however the run ends.
    BrowseSession session(m_service, m_stopRequested, m_unresolved);
    const DNSServiceErrorType result = session.start();
    if (result != kDNSServiceErr_NoError) {
        qDebug().noquote().nospace() << "Start failed to run DNSServiceBrowse: " << result;
        // The message first: a front end that ends on the failure has then shown why.
        emit m_service->showWarningMessage(unavailableMessage(), 0);
        emit m_service->browseUnavailable();
        return;
    }
    qDebug().noquote() << "Start successfully to run DNSServiceBrowse";
    exec();
}
