#ifndef LANADDRESSES_H
#define LANADDRESSES_H

#include <QHostAddress>
#include <QStringList>

// The host addresses of a subnet of the test LAN, without network and broadcast address, in
// the order the program's own scan builds them.
inline QStringList lanHosts(const QString &cidr)
{
    const QPair<QHostAddress, int> subnet = QHostAddress::parseSubnet(cidr);
    const quint32 size = quint32(1) << (32 - subnet.second);
    QStringList hosts;
    for (quint32 i = 1; i + 1 < size; ++i) {
        hosts.append(QHostAddress(subnet.first.toIPv4Address() + i).toString());
    }
    return hosts;
}

inline bool inTestLan()
{
    return !qEnvironmentVariableIsEmpty("LUMISWEEP_LAN_SCANNER_IP");
}

#endif // LANADDRESSES_H
