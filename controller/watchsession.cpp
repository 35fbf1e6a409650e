#include "watchsession.h"

#include "base/ipv4text.h"
#include "controller/deviceassembly.h"
#include "controller/interfaceinventory.h"
#include "controller/scanorchestration.h"
#include "discovery/arpwatch.h"
#include "discovery/bonjourwinservice.h"

WatchSession::WatchSession(BonjourWinService *service, ScanOrchestration &scans,
                           DeviceAssembly &devices, const InterfaceInventory &inventory)
    : m_scans(scans), m_devices(devices), m_inventory(inventory)
{
    DeviceStore &store = devices.store();
    connect(&store, &DeviceStore::watchEvent, this,
            [this](Watch::Event kind, const DeviceRow &row) { tell(kind, row, QString()); });
    connect(&scans, &ScanOrchestration::watchStarted, this, &WatchSession::follow);
    // The first sweep's end; a browse's first scan is timed below.
    connect(&scans, &ScanOrchestration::ended, this, [this] { m_devices.store().endFirstScan(); });
    connect(&scans, &ScanOrchestration::failed, this,
            [this] { end(Watch::End::Failed, QStringLiteral("the first scan could not run")); });
    connect(service, &BonjourWinService::deviceSaidGoodbye, this,
            [this](const QString &ipString, const QString &macString) {
                // The daemon withdraws every record of an interface that went away: that is our
                // outage, not the device's goodbye.
                if (m_arp && !m_arp->linkPresentNow()) {
                    return;
                }
                const std::optional<quint32> address = Ipv4Text::parse(ipString);
                if (address && m_devices.store().goodbye(*address, macString)) {
                    QTimer::singleShot(kHeldGoodbyeMs, this, [this, at = *address, macString] {
                        m_devices.store().confirmGoodbye(at, macString);
                    });
                }
            });
    m_firstBrowse.setSingleShot(true);
    m_firstBrowse.setInterval(kFirstBrowseMs);
    connect(&m_firstBrowse, &QTimer::timeout, this, [this] { m_devices.store().endFirstScan(); });
}

bool WatchSession::start(const QString &ipString, Controller::ScanType type)
{
    stop();
    if (type == Controller::ScanType::HttpDownload) {
        emit infoMessage(QStringLiteral("Info: Http Download has no watch mode"));
        return false;
    }
    m_type = type;
    m_ip = ipString;
    m_watching = true;
    const bool sweep = m_scans.start(ipString, type, true);
    m_devices.store().startWatch();
    if (type == Controller::ScanType::Mdns) {
        m_firstBrowse.start();
    }
    return sweep;
}

void WatchSession::follow(ArpWatch *watch)
{
    m_arp = watch;
    DeviceStore &store = m_devices.store();
    watch->setKnown([&store] { return store.watchedAddresses(); });
    if (m_type == Controller::ScanType::Arp) {
        connect(watch, &ArpWatch::answered, &m_devices, &DeviceAssembly::hostAnswered);
        connect(watch, &ArpWatch::answeredOutside, &m_devices, &DeviceAssembly::hostHeardOutside);
    } else {
        connect(watch, &ArpWatch::answered, &store, &DeviceStore::answered);
    }
    connect(watch, &ArpWatch::requestEnded, &store, &DeviceStore::requestEnded);
    connect(watch, &ArpWatch::linkLost, this, [this] { onLink(true); });
    connect(watch, &ArpWatch::linkBack, this, [this] { onLink(false); });
    // Queued: the end takes the watch away, which must not happen inside its own signal.
    connect(
        watch, &ArpWatch::readdressed, this,
        [this](quint32 address) {
            end(Watch::End::Readdressed,
                QStringLiteral("%1 came back with the address %2 instead of %3")
                    .arg(m_inventory.interfaceNameOf(m_ip), Ipv4Text::format(address), m_ip));
        },
        Qt::QueuedConnection);
    connect(
        watch, &ArpWatch::helperGone, this,
        [this](const QString &reason) {
            end(Watch::End::HelperGone,
                QStringLiteral("the ARP helper keeps failing (%1)").arg(reason));
        },
        Qt::QueuedConnection);
}

void WatchSession::onLink(bool lost)
{
    DeviceStore &store = m_devices.store();
    lost ? store.linkLost() : store.linkBack();
    DeviceRow row;
    row.ip = m_ip;
    tell(lost ? Watch::Event::InterfaceLost : Watch::Event::InterfaceBack, row,
         m_inventory.interfaceNameOf(m_ip));
}

void WatchSession::stop()
{
    end(Watch::End::Stopped, QString());
}

void WatchSession::end(Watch::End reason, const QString &message)
{
    if (!std::exchange(m_watching, false)) {
        return;
    }
    m_firstBrowse.stop();
    m_devices.store().stopWatch();
    m_scans.stop(m_type);
    tell(Watch::Event::End, DeviceRow(), message.isEmpty() ? Watch::endName(reason) : message);
    emit ended(reason, message);
}

void WatchSession::tell(Watch::Event kind, const DeviceRow &row, const QString &detail)
{
    emit eventText(Watch::eventName(kind), row.ip, row.mac, row.fw, row.name,
                   detail.isEmpty() ? row.note() : detail);
    emit event(kind, row, detail);
}
