#include "devicerecords.h"

#include "discovery/deviceprotocol.h"

void DeviceRecords::start(const QString &ip, const QString &mac)
{
    m_records[ip][DeviceProtocol::macAddressPath()] = mac;
}

std::optional<DeviceRow> DeviceRecords::store(const QString &ip, const QString &path,
                                              const QString &value)
{
    QMap<QString, QString> &record = m_records[ip];
    record[path] = value;
    const auto mac = record.constFind(DeviceProtocol::macAddressPath());
    const auto fw = record.constFind(DeviceProtocol::fwVersionPath());
    const auto name = record.constFind(DeviceProtocol::deviceNamePath());
    if (mac == record.cend() || fw == record.cend() || name == record.cend()) {
        return std::nullopt;
    }
    return DeviceRow { ip, *mac, *fw, *name };
}

QVector<DeviceRow> DeviceRecords::incompleteRows() const
{
    QVector<DeviceRow> rows;
    for (auto it = m_records.cbegin(); it != m_records.cend(); ++it) {
        const auto mac = it->constFind(DeviceProtocol::macAddressPath());
        if (it->size() < 3 && mac != it->cend()) {
            rows.append(DeviceRow { it.key(), *mac, QString(), QString() });
        }
    }
    return rows;
}

DeviceRow DeviceRecords::announced(const QString &ip, const QString &mac, const QString &fw,
                                   const QString &name)
{
    const QLatin1String none("NULL");
    return DeviceRow { ip, mac, fw.contains(none) ? QString() : fw,
                       name.contains(none) ? QString() : name };
}
