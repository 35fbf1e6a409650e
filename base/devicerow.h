#ifndef DEVICEROW_H
#define DEVICEROW_H

#include <QString>

// One row of the device table: IP address, MAC address, firmware version, device name, as the
// scans report a device and the front ends show, print and save it.
struct DeviceRow
{
    QString ip;
    QString mac;
    QString fw;
    QString name;

    bool operator==(const DeviceRow &other) const
    {
        return ip == other.ip && mac == other.mac && fw == other.fw && name == other.name;
    }
};

#endif // DEVICEROW_H
