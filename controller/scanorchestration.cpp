#include "scanorchestration.h"

#include "base/ipv4text.h"
#include "controller/addressrange.h"
#include "controller/deviceassembly.h"
#include "controller/interfaceinventory.h"
#include "discovery/bonjourwinservice.h"

namespace {
const QString kDefaultNetmask = QStringLiteral("255.255.255.0");
} // namespace

ScanOrchestration::ScanOrchestration(BonjourWinService *service, InterfaceInventory &inventory,
                                     DeviceAssembly &devices)
    : m_service(service), m_inventory(inventory), m_devices(devices)
{
    connect(service, &BonjourWinService::interfaceLost, this, [this] { m_interfaceLost = true; });
    connect(service, &BonjourWinService::arpHelperUnavailable, this,
            [this](const QString &reason) { m_arpHelperProblem = reason; });
    connect(service, &BonjourWinService::browseUnavailable, this,
            [this] { emit failed(Controller::ScanFailure::BrowseUnavailable); });
    connect(service, &BonjourWinService::deviceWithdrawn, &devices, &DeviceAssembly::hostWithdrawn);
    connect(service, &BonjourWinService::deviceHeardOutside, &devices,
            &DeviceAssembly::hostHeardOutside);
}

bool ScanOrchestration::start(const QString &ipString, Controller::ScanType type, bool watch)
{
    m_currentIp = ipString;
    m_scanType = type;
    m_watch = watch;
    m_devices.startScan(type == Controller::ScanType::Mdns,
                        type == Controller::ScanType::HttpDownload);
    m_interfaceLost = false;
    m_arpHelperProblem.clear();
    if (type == Controller::ScanType::Mdns && watch) {
        // The devices the browse announces on the interface's subnet are asked again by ARP.
        const QString netmask = m_inventory.netmaskOf(ipString);
        m_sweptSubnet = AddressRange::sweptSubnet(ipString, netmask);
        emit watchStarted(m_service->startMdnsWatch(AddressRange::fromInterface(ipString, netmask),
                                                    originOf(ipString)));
        return false;
    }
    if (type == Controller::ScanType::Mdns) {
        m_service->startDiscover();
        return false;
    }
    if (type == Controller::ScanType::HttpDownload && !m_inventory.contains(ipString)) {
        m_inventory.insert(ipString, kDefaultNetmask);
    }
    return true;
}

void ScanOrchestration::startSweep()
{
    const QString netmask = m_inventory.netmaskOf(m_currentIp);
    const bool named = !m_range.isEmpty();
    const bool httpProbe = m_scanType == Controller::ScanType::HttpDownload;
    const QVector<quint32> addresses = named ? AddressRange::fromRange(m_range)
                                             : AddressRange::fromInterface(m_currentIp, netmask);
    m_sweptSubnet = named ? m_range : AddressRange::sweptSubnet(m_currentIp, netmask);
    m_totalCount = addresses.size();
    SweepOrigin origin = originOf(m_currentIp);
    origin.namedRange = named;
    m_devices.setRoutedAllowed(named && httpProbe);
    if (m_watch) {
        emit watchStarted(m_service->startArpWatch(addresses, origin, m_sweepPeriodMs));
    } else {
        m_service->startArpScan(addresses, httpProbe, origin);
    }
}

SweepOrigin ScanOrchestration::originOf(const QString &ipString) const
{
    SweepOrigin origin;
    origin.source = Ipv4Text::parse(ipString).value_or(0);
    origin.interfaceName = m_inventory.interfaceNameOf(ipString);
    return origin;
}

int ScanOrchestration::progress() const
{
    if (m_totalCount == 0) {
        return 0;
    }
    const float remaining = float(m_service->remainingCount());
    return qBound(0, int((1.0f - remaining / float(m_totalCount)) * 100.0f), 100);
}

void ScanOrchestration::stop(Controller::ScanType type)
{
    if (std::exchange(m_watch, false)) {
        m_service->stopWatch();
        return;
    }
    if (type == Controller::ScanType::Mdns) {
        m_service->stopDiscover();
        return;
    }
    // The device queries go on: their answers complete rows of devices already found, and only
    // the next scan drops them.
    m_stopped = true;
    m_service->stopArpScan();
}

void ScanOrchestration::end()
{
    if (m_scanType != Controller::ScanType::Mdns) {
        m_devices.endSweep();
    }
    emit ended();
    reportEarlyEnd();
}

void ScanOrchestration::reportEarlyEnd()
{
    const int failures = m_service->sweepFailures();
    if (!m_arpHelperProblem.isEmpty()) {
        emit infoMessage(QStringLiteral("A range off this computer's links needs the ARP helper, "
                                        "which cannot run: %1")
                             .arg(std::exchange(m_arpHelperProblem, QString())));
        m_interfaceLost = false;
        emit failed(Controller::ScanFailure::ArpHelperUnavailable);
    } else if (std::exchange(m_interfaceLost, false)) {
        emit infoMessage(InterfaceInventory::unavailableMessage());
        emit failed(Controller::ScanFailure::InterfaceLost);
    } else if (failures > 0 && m_scanType != Controller::ScanType::Mdns) {
        emit infoMessage(
            failures == 1
                ? QStringLiteral("Warning: 1 address could not be checked!")
                : QStringLiteral("Warning: %1 addresses could not be checked!").arg(failures));
    }
}

bool ScanOrchestration::hasRouteTo(const QString &cidr) const
{
    return BonjourWinService::anyRouted(AddressRange::fromRange(cidr));
}
