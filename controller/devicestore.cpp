#include "devicestore.h"

#include "base/ipv4text.h"
#include "base/logtext.h"
#include "controller/vendorprefix.h"

#include <QDeadlineTimer>
#include <QDebug>

namespace {

using Endpoint = DeviceAnswer::Endpoint;

quint8 bit(Endpoint endpoint)
{
    return quint8(1u << int(endpoint));
}

const quint8 kNameAndFirmware = bit(Endpoint::DeviceName) | bit(Endpoint::FwVersion);

qint64 monotonicMs()
{
    return QDeadlineTimer::current().deadline();
}

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

DeviceStore::DeviceStore(QObject *parent) : QAbstractListModel(parent), m_clock(monotonicMs) { }

void DeviceStore::clear()
{
    beginResetModel();
    m_devices.clear();
    m_rows.clear();
    m_rowOf.clear();
    m_otherHosts.clear();
    m_linkLost = false;
    endResetModel();
}

void DeviceStore::startWatch()
{
    m_phase = Phase::FirstScan;
    m_linkLost = false;
}

void DeviceStore::endFirstScan()
{
    if (m_phase != Phase::FirstScan) {
        return;
    }
    m_phase = Phase::Live;
    // What the first scan found is told once it is complete, in address order, as a scan
    // prints it; rows that were filled in meanwhile are no change.
    for (auto it = m_devices.cbegin(); it != m_devices.cend(); ++it) {
        if (!it->presence.departed) {
            tell(Watch::Event::Present, it);
        }
    }
}

void DeviceStore::stopWatch()
{
    m_phase = Phase::Off;
    for (Device &device : m_devices) {
        device.goodbyeHeld = false;
    }
}

void DeviceStore::presenceChanged(Devices::iterator device, PresenceRule::Change change)
{
    if (change == PresenceRule::Change::None) {
        return;
    }
    const bool departed = change == PresenceRule::Change::Departed;
    device->departedAt = departed ? QDateTime::currentDateTimeUtc() : QDateTime();
    if (isShown(device.key())) {
        const QModelIndex changed = index(m_rowOf.value(device.key()));
        emit dataChanged(changed, changed, { DepartedRole, DepartedAtRole });
    }
    if (m_phase == Phase::Live) {
        tell(departed ? Watch::Event::Departed : Watch::Event::Returned, device);
    }
}

void DeviceStore::answered(quint32 address, const QString &mac)
{
    for (auto [it, end] = devicesAt(address); it != end; ++it) {
        // An announced device's MAC is what its announcer wrote; its address answering is
        // what counts. One that said goodbye comes back only by announcing itself.
        if ((it->announced || it->mac.compare(mac, Qt::CaseInsensitive) == 0) && !it->saidGoodbye) {
            presenceChanged(it, PresenceRule::answered(it->presence, m_clock()));
        }
    }
}

void DeviceStore::requestEnded(quint32 address, const QStringList &macs)
{
    if (m_phase != Phase::Live || m_linkLost) {
        return;
    }
    for (auto [it, end] = devicesAt(address); it != end; ++it) {
        const bool answered
            = it->announced ? !macs.isEmpty() : macs.contains(it->mac, Qt::CaseInsensitive);
        if (!answered) {
            presenceChanged(it, PresenceRule::unanswered(it->presence, m_clock()));
        }
    }
}

bool DeviceStore::goodbye(quint32 address, const QString &mac)
{
    const auto it = m_devices.find(keyOf(address, mac));
    if (it == m_devices.end() || !isWatching() || m_linkLost) {
        return false;
    }
    if (it->outagesAtAnnouncement < m_outages) {
        return !std::exchange(it->goodbyeHeld, true);
    }
    leave(it);
    return false;
}

void DeviceStore::confirmGoodbye(quint32 address, const QString &mac)
{
    const auto it = m_devices.find(keyOf(address, mac));
    if (it != m_devices.end() && std::exchange(it->goodbyeHeld, false) && isWatching()
        && !m_linkLost) {
        leave(it);
    }
}

void DeviceStore::leave(Devices::iterator device)
{
    device->saidGoodbye = true;
    presenceChanged(device, PresenceRule::leaves(device->presence));
}

void DeviceStore::announcedNow(Device &device)
{
    device.outagesAtAnnouncement = m_outages;
    device.goodbyeHeld = false;
}

void DeviceStore::linkLost()
{
    m_outages += m_linkLost ? 0 : 1;
    m_linkLost = true;
}

void DeviceStore::linkBack()
{
    m_linkLost = false;
    const qint64 now = m_clock();
    for (Device &device : m_devices) {
        PresenceRule::restart(device.presence, now);
    }
}

int DeviceStore::clearDeparted()
{
    QSet<quint32> addresses;
    int cleared = 0;
    for (auto it = m_devices.begin(); it != m_devices.end();) {
        if (!it->presence.departed) {
            ++it;
            continue;
        }
        addresses.insert(it.key().address);
        ++cleared;
        if (isShown(it.key())) {
            removeRow(it.key());
        }
        it = m_devices.erase(it);
    }
    for (const quint32 address : qAsConst(addresses)) {
        showAlone(address);
    }
    return cleared;
}

QVector<quint32> DeviceStore::watchedAddresses() const
{
    QVector<quint32> addresses;
    for (auto it = m_devices.cbegin(); it != m_devices.cend(); ++it) {
        if (addresses.isEmpty() || addresses.last() != it.key().address) {
            addresses.append(it.key().address);
        }
    }
    return addresses;
}

int DeviceStore::presentCount() const
{
    return int(std::count_if(m_rows.cbegin(), m_rows.cend(), [this](const Key &key) {
        return !m_devices.constFind(key)->presence.departed;
    }));
}

int DeviceStore::newCount() const
{
    return int(std::count_if(m_rows.cbegin(), m_rows.cend(), [this](const Key &key) {
        const Device &device = *m_devices.constFind(key);
        return device.isNew && !device.presence.departed;
    }));
}

int DeviceStore::goneCount() const
{
    return m_rows.size() - presentCount();
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
    if (const auto known = m_devices.find(key); known != m_devices.end()) {
        return isWatching() ? heardAgain(known, report) : Admission::Rejected;
    }
    if (const std::optional<Admission> moved = moveTo(report)) {
        return *moved;
    }
    Device device;
    device.mac = report.mac;
    device.announced = report.announced;
    device.outsideSubnet = report.outsideSubnet;
    device.validAnswer = report.macFromDevice;
    device.presence.lastAnswerMs = m_clock();
    if (report.announced) {
        device.fw = announcedText(report.fw);
        device.name = announcedText(report.name);
        announcedNow(device);
    } else if (report.outsideSubnet) {
        // Not on a subnet of this machine: there is no asking it.
        device.fw = device.name = QString();
    }
    return addAt(m_devices.insert(key, device), report);
}

DeviceStore::Admission DeviceStore::addAt(Devices::iterator added, const Report &report)
{
    if (countAt(report.address) > 1) {
        // The earlier device may have no row yet, its questions being on their way: it gets
        // one now, as every device on the address does.
        for (auto [it, end] = devicesAt(report.address); it != end; ++it) {
            show(it, m_phase == Phase::Live);
        }
        if (m_phase == Phase::Live) {
            tell(Watch::Event::Conflict, m_devices.find(added.key()));
        }
        return Admission::Conflict;
    }
    if (report.announced || report.outsideSubnet) {
        show(added);
        return Admission::Shown;
    }
    return Admission::Ask;
}

DeviceStore::Admission DeviceStore::heardAgain(Devices::iterator device, const Report &report)
{
    PresenceRule::Change change = PresenceRule::Change::None;
    // Only an announcement brings back a device that said goodbye.
    if (report.announced) {
        announcedNow(*device);
    }
    if (!device->saidGoodbye || report.announced) {
        device->saidGoodbye = false;
        change = PresenceRule::answered(device->presence, m_clock());
        presenceChanged(device, change);
    }
    if (report.announced && isShown(device.key())) {
        // Announced again: what it says now is its row.
        device->fw = announcedText(report.fw);
        device->name = announcedText(report.name);
        show(device);
        return Admission::Rejected;
    }
    if (change != PresenceRule::Change::Returned || device->announced || device->outsideSubnet
        || countAt(report.address) > 1) {
        return Admission::Rejected;
    }
    device->refreshing = true;
    device->ended &= quint8(~kNameAndFirmware);
    return Admission::Refresh;
}

std::optional<DeviceStore::Admission> DeviceStore::moveTo(const Report &report)
{
    if (m_phase != Phase::Live) {
        return std::nullopt;
    }
    const QString mac = report.mac.toUpper();
    const auto from = std::find_if(m_devices.begin(), m_devices.end(), [&](const Device &device) {
        return device.mac.toUpper() == mac;
    });
    if (from == m_devices.end()) {
        return std::nullopt;
    }
    const quint32 oldAddress = from.key().address;
    const Key to = keyOf(report.address, report.mac);
    Device moved = *from;
    moved.movedFrom = Ipv4Text::format(oldAddress);
    moved.outsideSubnet = report.outsideSubnet;
    moved.saidGoodbye = false;
    PresenceRule::answered(moved.presence, m_clock());
    if (report.announced) {
        moved.fw = announcedText(report.fw);
        moved.name = announcedText(report.name);
        announcedNow(moved);
    } else if (!report.outsideSubnet) {
        // What the device answers at its new address is its row once both answers have come.
        moved.refreshing = true;
        moved.ended &= quint8(~kNameAndFirmware);
    }
    const Key old = from.key();
    m_devices.erase(from);
    const auto added = m_devices.insert(to, moved);
    rekey(old, to);
    showAlone(oldAddress);
    if (countAt(report.address) > 1) {
        return addAt(added, report);
    }
    show(added, true);
    tell(Watch::Event::Changed, added);
    return report.announced || report.outsideSubnet ? Admission::Shown : Admission::Refresh;
}

void DeviceStore::answer(quint32 address, const DeviceAnswer &answer)
{
    auto [it, end] = devicesAt(address);
    if (it == end || std::next(it) != end) {
        return; // asked of no device of this scan, or of two
    }
    it->ended |= bit(answer.endpoint);
    it->validAnswer = it->validAnswer || answer.kind == DeviceAnswer::Kind::Value;
    // Asked again, a device keeps what it said before unless it says something else.
    const bool takes = answer.kind == DeviceAnswer::Kind::Value
        || (answer.kind == DeviceAnswer::Kind::Failed && !it->refreshing);
    if (takes) {
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
    if (it->refreshing) {
        it->refreshing = (it->ended & kNameAndFirmware) != kNameAndFirmware;
        if (!it->refreshing) {
            show(it);
        }
    } else if (answer.kind != DeviceAnswer::Kind::Ignored && it->fw && it->name) {
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
    rekey(old, key);
    return m_devices.insert(key, moved);
}

void DeviceStore::rekey(const Key &from, const Key &to)
{
    if (m_rowOf.contains(from)) {
        const int row = m_rowOf.take(from);
        m_rows[row] = to;
        m_rowOf.insert(to, row);
        emit dataChanged(index(row), index(row));
    }
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
    // A watch keeps the row: the device's announcement at its new address, which comes next,
    // moves it there.
    if (it == m_devices.end() || isWatching()) {
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
    showAlone(address);
}

void DeviceStore::showAlone(quint32 address)
{
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

void DeviceStore::show(Devices::iterator device, bool quiet)
{
    const auto row = m_rowOf.constFind(device.key());
    const bool first = row == m_rowOf.cend();
    if (first) {
        beginInsertRows(QModelIndex(), m_rows.size(), m_rows.size());
        m_rowOf.insert(device.key(), m_rows.size());
        m_rows.append(device.key());
        endInsertRows();
    } else {
        emit dataChanged(index(*row), index(*row));
    }
    const DeviceRow shown = rowOf(device.key(), *device);
    emit this->shown(shown);
    if (isWatching() && first) {
        device->appearedAt = QDateTime::currentDateTimeUtc();
        device->isNew = m_phase == Phase::Live;
    }
    const bool changed = shown.fw != device->shownFw || shown.name != device->shownName;
    device->shownFw = shown.fw;
    device->shownName = shown.name;
    if (m_phase == Phase::Live && !quiet && (first || changed)) {
        tell(first ? Watch::Event::Appeared : Watch::Event::Changed, device);
    }
}

void DeviceStore::tell(Watch::Event event, Devices::const_iterator device)
{
    // A device whose row was never shown is no one's news yet.
    if (isShown(device.key())) {
        emit watchEvent(event, rowOf(device.key(), *device));
    }
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
    row.movedFrom = device.movedFrom;
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
    const Device &device = *m_devices.constFind(key);
    const DeviceRow row = rowOf(key, device);
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
    case DepartedRole:
        return device.presence.departed;
    case DepartedAtRole:
        return device.departedAt;
    case AppearedAtRole:
        return device.appearedAt;
    case NewRole:
        return device.isNew;
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
             { OutsideSubnetRole, "outsideSubnet" },
             { AnsweredRole, "answered" },
             { DepartedRole, "departed" },
             { DepartedAtRole, "departedAt" },
             { AppearedAtRole, "appearedAt" },
             { NewRole, "isNew" } };
}
