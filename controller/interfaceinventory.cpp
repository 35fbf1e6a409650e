#include "interfaceinventory.h"

#include <QDebug>
#include <QNetworkInterface>
#include <QRegExp>

void InterfaceInventory::refresh()
{
    m_netmasks.clear();
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &networkInterface : interfaces) {
        const QList<QNetworkAddressEntry> entries = networkInterface.addressEntries();
        for (const QNetworkAddressEntry &entry : entries) {
            const QHostAddress address = entry.ip();
            if (address.protocol() != QAbstractSocket::IPv4Protocol
                || address == QHostAddress(QHostAddress::LocalHost)) {
                continue;
            }
            qDebug().noquote().nospace() << address.toString() << "/" << entry.netmask().toString();
            m_netmasks.insert(address.toString(), entry.netmask().toString());
        }
    }
}

bool InterfaceInventory::hasUsableNetmask(const QString &address) const
{
    return m_netmasks.value(address).split(QLatin1Char('.')).size() > 3;
}

void InterfaceInventory::insert(const QString &address, const QString &netmask)
{
    m_netmasks.insert(address, netmask);
}

bool InterfaceInventory::hasAddressForm(const QString &text)
{
    const QRegExp pattern(QStringLiteral("\\d{1,3}\\.\\d{1,3}\\.\\d{1,3}\\.\\d{1,3}"),
                          Qt::CaseSensitive, QRegExp::RegExp);
    return pattern.exactMatch(text);
}
