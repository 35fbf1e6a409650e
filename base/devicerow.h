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
    // False when the device was asked over HTTP as an encoder (name and firmware) and no
    // question got a valid answer: a gadget that shares the vendor's prefix, or an encoder whose
    // web server is down. True when it answered one, or was never asked.
    bool answered = true;
    // During a watch, the address a device had before it was heard at this one.
    QString movedFrom = QString();

    bool operator==(const DeviceRow &other) const
    {
        return ip == other.ip && mac == other.mac && fw == other.fw && name == other.name
            && conflict == other.conflict && outsideSubnet == other.outsideSubnet
            && answered == other.answered && movedFrom == other.movedFrom;
    }
    // "conflict", "outside subnet", "no encoder answer", "was 198.18.0.20", those that apply
    // joined by ", ", or empty.
    QString note() const
    {
        QStringList notes;
        if (conflict) {
            notes << QStringLiteral("conflict");
        }
        if (outsideSubnet) {
            notes << QStringLiteral("outside subnet");
        }
        if (!answered) {
            notes << QStringLiteral("no encoder answer");
        }
        if (!movedFrom.isEmpty()) {
            notes << QStringLiteral("was ") + movedFrom;
        }
        return notes.join(QStringLiteral(", "));
    }
};

#endif // DEVICEROW_H
