#ifndef DEVICEROW_H
#define DEVICEROW_H

#include <QString>
#include <QStringList>

// One row of the device table: IP address, MAC address, firmware version, device name, as the
// scans report a device and the front ends show, print and save it; and what the user must know
// to read it right.
struct DeviceRow
{
    QString ip;
    QString mac;
    QString fw;
    QString name;
    // Another device answers for the same address: name and firmware cannot be told apart.
    bool conflict = false;
    // Heard on the link with an address outside the swept subnet.
    bool outsideSubnet = false;

    bool operator==(const DeviceRow &other) const
    {
        return ip == other.ip && mac == other.mac && fw == other.fw && name == other.name
            && conflict == other.conflict && outsideSubnet == other.outsideSubnet;
    }
    // "conflict", "outside subnet", both, or empty.
    QString note() const
    {
        QStringList notes;
        if (conflict) {
            notes << QStringLiteral("conflict");
        }
        if (outsideSubnet) {
            notes << QStringLiteral("outside subnet");
        }
        return notes.join(QStringLiteral(", "));
    }
};

#endif // DEVICEROW_H
