#include "devicestore.h"

#include "base/ipv4text.h"
#include "base/logtext.h"
#include "controller/vendorprefix.h"

#include <QDebug>

namespace {

using Endpoint = DeviceAnswer::Endpoint;

quint8 bit(Endpoint endpoint)
{
    return quint8(1u << int(endpoint));
}

const quint8 kNameAndFirmware = bit(Endpoint::DeviceName) | bit(Endpoint::FwVersion);

} // namespace

bool DeviceStore::Key::operator<(const Key &other) const
{
    return address != other.address ? address < other.address : mac < other.mac;
}

bool DeviceStore::Key::operator==(const Key &other) const
{
    return address == other.address && mac == other.mac;
}

uint qHash(const DeviceStore::Key &key, uint seed)
{
    return qHash(key.address, seed) ^ qHash(key.mac, seed);
}

DeviceStore::DeviceStore(QObject *parent) : QAbstractListModel(parent) { }

void DeviceStore::clear()
{
    beginResetModel();
    m_devices.clear();
    m_rows.clear();
    m_rowOf.clear();
    m_otherHosts.clear();
    endResetModel();
}

QString DeviceStore::announcedText(const QString &text)
{
    return text.contains(QLatin1String("NULL")) ? QString() : text;
}

DeviceStore::Admission DeviceStore::admit(const Report &report)
{
    // The prefix test comes first: a host whose MAC fails it may be reported again with one
    // that passes.
    if (!VendorPrefix::matches(report.mac)) {
        m_otherHosts.insert(report.address);
        return Admission::Rejected;
    }
    const Key key = keyOf(report.address, report.mac);
    if (m_devices.contains(key)) {
        return Admission::Rejected;
    }
    const bool shared = countAt(report.address) > 0;
    Device device;
    device.mac = report.mac;
    device.announced = report.announced;
    device.outsideSubnet = report.outsideSubnet;
    device.validAnswer = report.macFromDevice;
    if (report.announced) {
        device.fw = announcedText(report.fw);
        device.name = announcedText(report.name);
    } else if (report.outsideSubnet) {
        // Not on a subnet of this machine: there is no asking it.
        device.fw = device.name = QString();
    }
    const auto added = m_devices.insert(key, device);
    if (shared) {
        // The earlier device may have no row yet, its questions being on their way: it gets
        // one now, as every device on the address does.
        for (auto [it, end] = devicesAt(report.address); it != end; ++it) {
            show(it);
        }
        return Admission::Conflict;
    }
    if (report.announced || report.outsideSubnet) {
        show(added);
        return Admission::Shown;
    }
    return Admission::Ask;
}

void DeviceStore::answer(quint32 address, const DeviceAnswer &answer)
{
    auto [it, end] = devicesAt(address);
    if (it == end || std::next(it) != end) {
        return; // asked of no device of this scan, or of two
    }
    it->ended |= bit(answer.endpoint);
    it->validAnswer = it->validAnswer || answer.kind == DeviceAnswer::Kind::Value;
    if (answer.kind != DeviceAnswer::Kind::Ignored) {
        const QString value = answer.kind == DeviceAnswer::Kind::Value ? answer.text : QString();
        switch (answer.endpoint) {
        case Endpoint::DeviceName:
            it->name = value;
            break;
        case Endpoint::FwVersion:
            it->fw = value;
            break;
        case Endpoint::MacAddress:
            it = takeMac(it, value);
            break;
        }
    }
    if (answer.kind != DeviceAnswer::Kind::Ignored && it->fw && it->name) {
        qDebug().noquote().nospace()
            << "IP URL: " << Ipv4Text::format(address) << ";" << LogText::quoted(it->mac) << ","
            << LogText::quoted(*it->fw) << "," << LogText::quoted(*it->name);
        show(it);
    } else if (isShown(it.key())) {
        // Whether the device answered at all may be known now.
        const QModelIndex changed = index(m_rowOf.value(it.key()));
        emit dataChanged(changed, changed, { AnsweredRole, NoteRole });
    }
}

DeviceStore::Devices::iterator DeviceStore::takeMac(Devices::iterator device, const QString &mac)
{
    const Key key = keyOf(device.key().address, mac);
    // A failed question leaves the MAC the sweep heard; so does one another device has.
    if (mac.isEmpty() || key == device.key() || m_devices.contains(key)) {
        return device;
    }
    const Key old = device.key();
    Device moved = *device;
    moved.mac = mac;
    m_devices.erase(device);
    if (m_rowOf.contains(old)) {
        const int row = m_rowOf.take(old);
        m_rows[row] = key;
        m_rowOf.insert(key, row);
    }
    return m_devices.insert(key, moved);
}

void DeviceStore::showUnasked(quint32 address)
{
    for (auto [it, end] = devicesAt(address); it != end; ++it) {
        it->fw = it->name = QString();
        show(it);
    }
}

QVector<DeviceRow> DeviceStore::showIncomplete()
{
    QVector<Devices::iterator> incomplete;
    for (auto it = m_devices.begin(); it != m_devices.end(); ++it) {
        if (!isShown(it.key()) && !(it->fw && it->name)) {
            incomplete.append(it);
        }
    }
    // In the order of the address texts (.10 before .9), as the end of a sweep always listed
    // them.
    std::sort(incomplete.begin(), incomplete.end(), [](Devices::iterator a, Devices::iterator b) {
        return Ipv4Text::format(a.key().address) < Ipv4Text::format(b.key().address);
    });
    QVector<DeviceRow> shown;
    for (const Devices::iterator it : incomplete) {
        show(it);
        shown.append(rowOf(it.key(), *it));
    }
    return shown;
}

void DeviceStore::withdraw(quint32 address, const QString &mac)
{
    const auto it = m_devices.find(keyOf(address, mac));
    if (it == m_devices.end()) {
        return;
    }
    const DeviceRow row = rowOf(it.key(), *it);
    const Key key = it.key();
    const bool shown = isShown(key);
    m_devices.erase(it);
    if (shown) {
        removeRow(key);
        emit removed(row);
    }
    // A device left alone on its address is no longer in a conflict.
    auto [left, end] = devicesAt(address);
    if (left != end && std::next(left) == end && isShown(left.key())) {
        show(left);
    }
}

void DeviceStore::removeRow(const Key &key)
{
    const int row = m_rowOf.take(key);
    beginRemoveRows(QModelIndex(), row, row);
    m_rows.remove(row);
    for (int i = row; i < m_rows.size(); ++i) {
        m_rowOf[m_rows.at(i)] = i;
    }
    endRemoveRows();
}

void DeviceStore::show(Devices::iterator device)
{
    const auto row = m_rowOf.constFind(device.key());
    if (row == m_rowOf.cend()) {
        beginInsertRows(QModelIndex(), m_rows.size(), m_rows.size());
        m_rowOf.insert(device.key(), m_rows.size());
        m_rows.append(device.key());
        endInsertRows();
    } else {
        emit dataChanged(index(*row), index(*row));
    }
    emit shown(rowOf(device.key(), *device));
}

std::pair<DeviceStore::Devices::iterator, DeviceStore::Devices::iterator>
DeviceStore::devicesAt(quint32 address)
{
    return { m_devices.lowerBound({ address, QString() }),
             address == UINT32_MAX ? m_devices.end()
                                   : m_devices.lowerBound({ address + 1, QString() }) };
}

int DeviceStore::countAt(quint32 address) const
{
    int count = 0;
    for (auto it = m_devices.lowerBound({ address, QString() });
         it != m_devices.cend() && it.key().address == address; ++it) {
        ++count;
    }
    return count;
}

DeviceRow DeviceStore::rowOf(const Key &key, const Device &device) const
{
    // Until both have come, neither is shown.
    const bool complete = device.fw && device.name;
    DeviceRow row { Ipv4Text::format(key.address), device.mac, complete ? *device.fw : QString(),
                    complete ? *device.name : QString() };
    row.conflict = countAt(key.address) > 1;
    row.outsideSubnet = device.outsideSubnet;
    row.answered = device.validAnswer || (device.ended & kNameAndFirmware) != kNameAndFirmware;
    if (row.conflict && !device.announced) {
        // What the address answers over HTTP may come from either device: no row gets a name or
        // firmware it may not have sent.
        row.fw.clear();
        row.name.clear();
    }
    return row;
}

QVector<DeviceRow> DeviceStore::rows() const
{
    QVector<DeviceRow> rows;
    for (auto it = m_devices.cbegin(); it != m_devices.cend(); ++it) {
        if (isShown(it.key())) {
            rows.append(rowOf(it.key(), *it));
        }
    }
    return rows;
}

int DeviceStore::conflictCount() const
{
    int count = 0;
    for (auto it = m_devices.cbegin(); it != m_devices.cend();) {
        const int atAddress = countAt(it.key().address);
        count += atAddress > 1 ? 1 : 0;
        it = std::next(it, atAddress);
    }
    return count;
}

int DeviceStore::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_rows.size();
}

QVariant DeviceStore::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size()) {
        return QVariant();
    }
    const Key &key = m_rows.at(index.row());
    const DeviceRow row = rowOf(key, *m_devices.constFind(key));
    switch (role) {
    case IpRole:
        return row.ip;
    case MacRole:
        return row.mac;
    case FwRole:
        return row.fw;
    case NameRole:
        return row.name;
    case NoteRole:
        return row.note();
    case ConflictRole:
        return row.conflict;
    case OutsideSubnetRole:
        return row.outsideSubnet;
    case AnsweredRole:
        return row.answered;
    default:
        return QVariant();
    }
}

QHash<int, QByteArray> DeviceStore::roleNames() const
{
    return { { IpRole, "ip" },
             { MacRole, "mac" },
             { FwRole, "fw" },
             { NameRole, "name" },
             { NoteRole, "note" },
             { ConflictRole, "conflict" },
             { AnsweredRole, "answered" } };
}
