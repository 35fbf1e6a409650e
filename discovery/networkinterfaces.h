#ifndef NETWORKINTERFACES_H
#define NETWORKINTERFACES_H

#include <QString>
#include <QVector>

// The machine's IPv4 interface addresses as the system lists them right now.
namespace NetworkInterfaces {

struct Address
{
    QString interfaceName;
    QString address; // dotted text
    QString netmask; // dotted text; empty when the entry carries none
    int prefixLength = -1;
};

// In the system's order, interface by interface; 127.0.0.1 is left out, nothing else is.
QVector<Address> ipv4Addresses();

} // namespace NetworkInterfaces

#endif // NETWORKINTERFACES_H
