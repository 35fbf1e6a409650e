#include "bonjourthread.h"

#include "discovery/browsesession.h"
#include "discovery/logtext.h"

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
    {
        std::lock_guard<std::mutex> lock(m_runMutex);
        m_running = true;
    }
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
    {
        std::unique_lock<std::mutex> lock(m_runMutex);
        m_runEnded.wait(lock, [this] { return !m_running; });
    }
    wait();
}

void BonjourThread::run()
{
    {
        // Everything the browse holds lives in here and is released on the way out, once,
        // in this thread, however the run ends.
        BrowseSession session(m_stopRequested);
        connect(&session, &BrowseSession::deviceResolved, this, &BonjourThread::deviceResolved,
                Qt::DirectConnection);
        const DNSServiceErrorType result = session.start();
        if (result != kDNSServiceErr_NoError) {
            qDebug().noquote().nospace() << "Start failed to run DNSServiceBrowse: " << result;
            emit browseUnavailable(unavailableMessage());
        } else {
            qDebug().noquote() << "Start successfully to run DNSServiceBrowse";
            exec();
        }
    }
    std::lock_guard<std::mutex> lock(m_runMutex);
    m_running = false;
    m_runEnded.notify_all();
}
