#include "networkinterfaces.h"

#include <QNetworkInterface>

namespace NetworkInterfaces {

QVector<Address> ipv4Addresses()
{
    QVector<Address> addresses;
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &networkInterface : interfaces) {
        const QList<QNetworkAddressEntry> entries = networkInterface.addressEntries();
        for (const QNetworkAddressEntry &entry : entries) {
            const QHostAddress address = entry.ip();
            if (address.protocol() != QAbstractSocket::IPv4Protocol
                || address == QHostAddress(QHostAddress::LocalHost)) {
                continue;
            }
            addresses.append({ networkInterface.name(), address.toString(),
                               entry.netmask().toString(), entry.prefixLength() });
        }
    }
    return addresses;
}

} // namespace NetworkInterfaces
