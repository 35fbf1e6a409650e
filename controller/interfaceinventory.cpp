#include "interfaceinventory.h"

#include "base/ipv4text.h"
#include "discovery/networkinterfaces.h"

#include <QDebug>
#include <QRegExp>

void InterfaceInventory::refresh()
{
    m_entries.clear();
    // An address two interfaces share is one entry, holding what the last one says.
    for (const NetworkInterfaces::Address &entry : NetworkInterfaces::ipv4Addresses()) {
        qDebug().noquote().nospace() << entry.address << "/" << entry.netmask;
        m_entries.insert(entry.address, { entry.netmask, entry.interfaceName });
    }
}

QStringList InterfaceInventory::addressesOf(const QString &interfaceName) const
{
    QStringList addresses;
    for (auto it = m_entries.cbegin(); it != m_entries.cend(); ++it) {
        if (it->interfaceName == interfaceName) {
            addresses << it.key();
        }
    }
    return addresses;
}

QString InterfaceInventory::addressWithPrefix(const QString &address) const
{
    const std::optional<quint32> mask = Ipv4Text::parse(netmaskOf(address));
    // A netmask is ones followed by zeros; anything else has no prefix length.
    if (!mask || (~*mask & (~*mask + 1)) != 0) {
        return address;
    }
    int length = 0;
    for (quint32 bits = *mask; bits & 0x80000000u; bits <<= 1) {
        ++length;
    }
    return QStringLiteral("%1/%2").arg(address).arg(length);
}

bool InterfaceInventory::hasUsableNetmask(const QString &address) const
{
    return netmaskOf(address).split(QLatin1Char('.')).size() > 3;
}

void InterfaceInventory::insert(const QString &address, const QString &netmask)
{
    m_entries.insert(address, { netmask, QString() });
}

bool InterfaceInventory::hasAddressForm(const QString &text)
{
    const QRegExp pattern(QStringLiteral("\\d{1,3}\\.\\d{1,3}\\.\\d{1,3}\\.\\d{1,3}"),
                          Qt::CaseSensitive, QRegExp::RegExp);
    return pattern.exactMatch(text);
}
