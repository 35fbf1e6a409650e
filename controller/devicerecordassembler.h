#ifndef DEVICERECORDASSEMBLER_H
#define DEVICERECORDASSEMBLER_H

#include <QMap>
#include <QSet>
#include <QString>
#include <QVector>

#include <optional>

// One row of the device table: IP address, MAC address, firmware version, device name.
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

// Builds device rows from what a scan reports: which hosts count (vendor prefix, once per
// scan), and the record of each found host, keyed by address text, that fills up as its
// endpoints answer. Knows nothing of the network.
class DeviceRecordAssembler
{
public:
    // Forgets every record and every host seen: a new scan.
    void clear();
    // A host reported by a scan: true when it is a device of interest heard of for the first
    // time in this scan, which also marks it as seen.
    bool admit(const QString &ip, const QString &mac);
    // Starts the record of a swept device with the MAC its sweep reported.
    void startRecord(const QString &ip, const QString &mac);
    // One endpoint's value (path as in DeviceProtocol); the row when the record is then
    // complete. A reply for a host without record starts one that is never reported.
    std::optional<DeviceRow> store(const QString &ip, const QString &path, const QString &value);
    // The row of a device whose announcement carries everything: a firmware or name that
    // holds "NULL" anywhere stands for none.
    static DeviceRow announced(const QString &ip, const QString &mac, const QString &fw,
                               const QString &name);
    // Records still incomplete that have a MAC, in address text order, with empty firmware and
    // name: what the end of a sweep reports.
    QVector<DeviceRow> incompleteRows() const;

private:
    QMap<QString, QMap<QString, QString>> m_records;
    QSet<QString> m_seen;
};

#endif // DEVICERECORDASSEMBLER_H
