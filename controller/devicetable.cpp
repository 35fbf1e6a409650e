#include "devicetable.h"

#include "base/ipv4text.h"

DeviceTable::Key DeviceTable::keyOf(const QString &ip, const QString &mac)
{
    // An address that cannot be read sorts after every real one.
    const std::optional<quint32> address = Ipv4Text::parse(ip);
    return { address ? *address : (quint64(1) << 32) + qHash(ip), mac.toUpper() };
}

bool DeviceTable::upsert(const DeviceRow &row)
{
    const Key key = keyOf(row.ip, row.mac);
    const bool added = !m_rows.contains(key);
    m_rows.insert(key, row);
    return added;
}

bool DeviceTable::remove(const QString &ip, const QString &mac)
{
    return m_rows.remove(keyOf(ip, mac)) > 0;
}

std::optional<DeviceRow> DeviceTable::row(const QString &ip, const QString &mac) const
{
    const auto it = m_rows.constFind(keyOf(ip, mac));
    return it == m_rows.cend() ? std::nullopt : std::optional<DeviceRow>(*it);
}
