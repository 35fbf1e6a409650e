#include "bonjourthread.h"

#include "discovery/browsesession.h"
#include "discovery/discoveryreports.h"
#include "platform/dnssdbinding.h"

#include <QDebug>

namespace {

// On Linux the daemon and the library are packages of the distribution, not downloads; the
// user needs the package's name and the command that starts the daemon. Shown in a box by the
// window and as one line, without the markup, by the command line.
QString unavailableMessage()
{
    if (!DnsSdBinding::instance().isLoaded()) {
        return QStringLiteral("The mDNS scan needs the DNS-SD library %1, which is not installed. "
                              "Install the package <b>libavahi-compat-libdnssd1</b>.")
            .arg(QLatin1String(DnsSdBinding::kLibraryName));
    }
    return QStringLiteral("The mDNS scan needs avahi-daemon, which is not running or not "
                          "installed. Start it with <b>sudo systemctl start avahi-daemon</b>, or "
                          "install the package <b>avahi-daemon</b>.");
}

} // namespace

BonjourThread::BonjourThread(DiscoveryReports &reports, std::atomic<int> &unresolved)
    : m_reports(reports), m_unresolved(unresolved)
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
    BrowseSession session(m_reports, m_stopRequested, m_unresolved);
    const DNSServiceErrorType result = session.start();
    if (result != kDNSServiceErr_NoError) {
        qDebug().noquote().nospace() << "Start failed to run DNSServiceBrowse: " << result;
        m_reports.browseFailed(unavailableMessage());
        return;
    }
    qDebug().noquote() << "Start successfully to run DNSServiceBrowse";
    exec();
}
