#ifndef DEVICETABLE_H
#define DEVICETABLE_H

#include "base/devicerow.h"

#include <QMap>
#include <QPair>
#include <QVector>

#include <optional>

// The devices of the current scan as the front ends show them: one row per device, known by its
// address and MAC (two devices may answer for one address), a later report of a device replacing
// its row. Rows come out in numeric address order.
class DeviceTable
{
public:
    void clear() { m_rows.clear(); }
    // True when the device is new to the table.
    bool upsert(const DeviceRow &row);
    bool remove(const QString &ip, const QString &mac);
    QVector<DeviceRow> rows() const { return m_rows.values().toVector(); }
    std::optional<DeviceRow> row(const QString &ip, const QString &mac) const;
    int size() const { return m_rows.size(); }

private:
    using Key = QPair<quint64, QString>;
    static Key keyOf(const QString &ip, const QString &mac);
    QMap<Key, DeviceRow> m_rows;
};

#endif // DEVICETABLE_H
