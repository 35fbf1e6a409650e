#ifndef DEVICERECORDS_H
#define DEVICERECORDS_H

#include "base/devicerow.h"

#include <QMap>
#include <QString>
#include <QVector>

#include <optional>

// The records of the devices a sweep found, keyed by address text, each filling up as its HTTP
// endpoints answer, and the rows they make. Knows nothing of the network.
class DeviceRecords
{
public:
    // Forgets every record: a new scan.
    void clear() { m_records.clear(); }
    void remove(const QString &ip) { m_records.remove(ip); }
    // Starts the record of a swept device with the MAC its sweep reported.
    void start(const QString &ip, const QString &mac);
    // One endpoint's value (path as in DeviceProtocol); the row when the record is then
    // complete. A reply for a host without record starts one that is never reported.
    std::optional<DeviceRow> store(const QString &ip, const QString &path, const QString &value);
    // Records still incomplete that have a MAC, in address text order, with empty firmware and
    // name: what the end of a sweep reports.
    QVector<DeviceRow> incompleteRows() const;

    // The row of a device whose announcement carries everything: a firmware or name that holds
    // "NULL" anywhere stands for none.
    static DeviceRow announced(const QString &ip, const QString &mac, const QString &fw,
                               const QString &name);

private:
    QMap<QString, QMap<QString, QString>> m_records;
};

#endif // DEVICERECORDS_H
