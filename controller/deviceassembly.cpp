#include "deviceassembly.h"

#include "base/ipv4text.h"
#include "base/logtext.h"
#include "discovery/devicequeries.h"

#include <QDebug>

DeviceAssembly::DeviceAssembly(QObject *parent) : QObject(parent), m_queries(new DeviceQueries)
{
    connect(m_queries.get(), &DeviceQueries::answered, &m_store, &DeviceStore::answer);
    connect(m_queries.get(), &DeviceQueries::settled, this, &DeviceAssembly::settled);
}

DeviceAssembly::~DeviceAssembly() = default;

void DeviceAssembly::startScan(bool announced, bool macFromDevice)
{
    // Replies to the previous scan's queries must not land in this scan's records.
    m_queries->clear();
    m_store.clear();
    m_announced = announced;
    m_macFromDevice = macFromDevice;
}

void DeviceAssembly::setRoutedAllowed(bool allowed)
{
    m_queries->setRoutedAllowed(allowed);
}

int DeviceAssembly::pendingQueries() const
{
    return m_queries->pendingCount();
}

void DeviceAssembly::hostFound(const QString &ipString, const QString &macString,
                               const QString &fwString, const QString &nameString)
{
    // The service sends addresses of single hosts that it has read itself: from here on the
    // device is known by its number.
    if (const std::optional<quint32> address = Ipv4Text::parse(ipString)) {
        DeviceStore::Report report { *address, macString, fwString, nameString };
        report.announced = m_announced;
        report.macFromDevice = m_macFromDevice;
        admit(report);
    }
}

void DeviceAssembly::hostHeardOutside(quint32 address, const QString &macString)
{
    qDebug().noquote().nospace() << "onDeviceHeardOutside: " << Ipv4Text::format(address) << ", "
                                 << LogText::quoted(macString);
    DeviceStore::Report report { address, macString, QString(), QString() };
    report.outsideSubnet = true;
    admit(report);
}

void DeviceAssembly::hostAnswered(quint32 address, const QString &macString)
{
    admit(DeviceStore::Report { address, macString, QString(), QString() });
}

void DeviceAssembly::admit(const DeviceStore::Report &report)
{
    switch (m_store.admit(report)) {
    case DeviceStore::Admission::Ask:
        if (!m_queries->ask(report.address)) {
            m_store.showUnasked(report.address);
        }
        break;
    case DeviceStore::Admission::Refresh:
        // Back, or at a new address: its name and firmware may have changed meanwhile.
        m_queries->ask(report.address);
        break;
    case DeviceStore::Admission::Conflict:
        // What the address answers can no longer be told apart: nothing more is asked of it.
        m_queries->cancel(report.address);
        break;
    case DeviceStore::Admission::Rejected:
    case DeviceStore::Admission::Shown:
        break;
    }
}

void DeviceAssembly::hostWithdrawn(const QString &ipString, const QString &macString)
{
    if (const std::optional<quint32> address = Ipv4Text::parse(ipString)) {
        m_store.withdraw(*address, macString);
    }
}

void DeviceAssembly::hostReachable(const QString &ipString)
{
    if (const std::optional<quint32> address = Ipv4Text::parse(ipString)) {
        m_queries->askMacAddress(*address);
    }
}

void DeviceAssembly::endSweep()
{
    for (const DeviceRow &row : m_store.showIncomplete()) {
        qDebug().noquote().nospace()
            << "onArpScanDone: " << row.ip << ";" << LogText::quoted(row.mac);
    }
}
