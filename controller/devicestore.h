#ifndef DEVICESTORE_H
#define DEVICESTORE_H

#include "base/deviceanswer.h"
#include "base/devicerow.h"
#include "base/watchevent.h"
#include "controller/presencerule.h"

#include <QAbstractListModel>
#include <QDateTime>
#include <QHash>
#include <QMap>
#include <QSet>
#include <QVector>

#include <functional>
#include <optional>

// The devices of the current scan, in one table keyed by address number and MAC (two devices
// may answer for one address). It decides which hosts a scan reports become devices (a vendor
// prefix, each address and MAC once per scan), notices two devices on one address, gathers the
// HTTP answers of swept devices until their rows are complete, and holds the rows shown: the
// window's list model, one row per device in the order the rows appeared, and the writers' rows
// in numeric address order. A row shown again replaces the device's row, wherever it stands.
//
// During a watch it also keeps whether each device is still there (PresenceRule) and tells every
// change to a device as an event: found by the first scan, new, changed, moved to another address
// (its row moves along and notes where it was), a second device on its address, departed and
// returned. Departed rows stay, with the time they left, until they are cleared.
class DeviceStore : public QAbstractListModel
{
    Q_OBJECT
public:
    enum Role {
        IpRole = Qt::UserRole + 1,
        MacRole,
        FwRole,
        NameRole,
        NoteRole, // what to know to read the row: DeviceRow::note()
        ConflictRole,
        OutsideSubnetRole,
        AnsweredRole, // false: asked over HTTP, the device gave no valid answer
        DepartedRole, // during a watch: the device left
        DepartedAtRole, // when it left (QDateTime), invalid while it is there
        AppearedAtRole, // when its row was first shown during the watch (QDateTime)
        NewRole // it appeared after the watch's first scan
    };

    // A host a scan reported.
    struct Report
    {
        quint32 address = 0;
        QString mac;
        // An announcement's firmware and name; a swept device is asked for them instead.
        QString fw;
        QString name;
        bool announced = false;
        // Heard on the link outside the swept subnet: there is no asking it.
        bool outsideSubnet = false;
        // The MAC is the device's own answer to /public/macAddress (the HTTP probe).
        bool macFromDevice = false;
    };
    enum class Admission {
        Rejected, // not an encoder, or heard of already in this scan
        Shown, // its row is shown; there is nothing to ask
        Ask, // a swept device, to be asked for its name and firmware
        Conflict, // another device on an address that has one: every row on it shows so
        Refresh // during a watch, a known swept device came back or moved: ask it again
    };
    // Monotonic milliseconds, for the presence of watched devices.
    using Clock = std::function<qint64()>;

    explicit DeviceStore(QObject *parent = nullptr);

    // A new scan: every device and host is forgotten.
    void clear();
    Admission admit(const Report &report);
    // An answer of the device at address. Once its name and firmware have come (a failed
    // query counts, as an empty value), its row is shown; every later answer that finds it so
    // shows it again. An address two devices answer for gets no answers: they cannot be told
    // apart, and no row may show what the other device sent.
    void answer(quint32 address, const DeviceAnswer &answer);
    // A swept device that could not be asked: its row, without name and firmware.
    void showUnasked(quint32 address);
    // The end of a sweep: each swept device whose row is not complete is shown with empty
    // firmware and name, even when one of them came, in the order of the address texts. The
    // rows shown.
    QVector<DeviceRow> showIncomplete();
    // An announced device moved on: its row goes, and its address and MAC may be admitted again.
    void withdraw(quint32 address, const QString &mac);

    // A watch: from now on each change to a device is told by watchEvent. endFirstScan tells
    // the rows shown so far as present, in address order; later ones appeared. A device admitted
    // again is heard of, and a known MAC at a new address moves its row. Without a watch, the
    // store reads each scan once.
    void startWatch();
    void endFirstScan();
    void stopWatch();
    bool isWatching() const { return m_phase != Phase::Off; }
    void setClock(Clock clock) { m_clock = std::move(clock); }
    // An ARP answer from address with mac that admits nothing (the re-check of an announced
    // device): it counts for the devices there, an announced one whatever its MAC.
    void answered(quint32 address, const QString &mac);
    // A request to address has ended; macs answered it. The devices there that did not are one
    // request closer to departing, unless the interface is lost.
    void requestEnded(quint32 address, const QStringList &macs);
    // The announced device said goodbye: it departs at once, and only an announcement brings it
    // back. Not while the interface is lost: the daemon then withdraws every record on it. A
    // daemon that notices an outage late withdraws them after the interface is back, and
    // announces them again soon after: a goodbye from a device not announced since the last
    // outage began is held (true when it was not held yet), for confirmGoodbye to decide a while
    // later.
    bool goodbye(quint32 address, const QString &mac);
    // A held goodbye departs the device, unless it was announced since.
    void confirmGoodbye(quint32 address, const QString &mac);
    void linkLost();
    void linkBack();
    // Drops the departed rows; how many went.
    int clearDeparted();
    // Every device's address, departed ones included: what a watch asks again.
    QVector<quint32> watchedAddresses() const;
    // Rows of devices still there; of those, the ones new since the first scan; departed rows.
    int presentCount() const;
    int newCount() const;
    int goneCount() const;

    // The rows shown, in numeric address order (then MAC).
    QVector<DeviceRow> rows() const;
    // Addresses that more than one device answers for.
    int conflictCount() const;
    // Hosts that answered but are not encoders.
    int otherHostCount() const { return m_otherHosts.size(); }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    // What an announcement's firmware or name holds: one that holds "NULL" anywhere stands for
    // none.
    static QString announcedText(const QString &text);

signals:
    // A row shown for the first time or again, with what it now shows.
    void shown(const DeviceRow &row);
    void removed(const DeviceRow &row);
    // During a watch: something happened to the device whose row this now is.
    void watchEvent(Watch::Event event, const DeviceRow &row);

private:
    struct Key
    {
        quint32 address;
        QString mac; // upper case: the same device, whatever the letter case of its report
        bool operator<(const Key &other) const;
        bool operator==(const Key &other) const;
    };
    friend uint qHash(const Key &key, uint seed);
    struct Device
    {
        QString mac; // as reported
        bool announced = false;
        bool outsideSubnet = false;
        // Firmware and name as far as they are known: an announcement's, or a swept device's
        // answers, each there once its query ended in a value or in a failure (an empty value).
        // A row shows them once both are there.
        std::optional<QString> fw;
        std::optional<QString> name;
        // The questions that ended, whatever they got (a bit per endpoint), and whether any got
        // a valid answer.
        quint8 ended = 0;
        bool validAnswer = false;
        // During a watch.
        PresenceRule::Presence presence;
        bool saidGoodbye = false;
        bool goodbyeHeld = false;
        int outagesAtAnnouncement = 0; // m_outages when it was last announced
        QDateTime departedAt;
        QDateTime appearedAt;
        bool isNew = false;
        QString movedFrom;
        // Asked again: the row changes once both answers have come, and only by valid ones.
        bool refreshing = false;
        // What the row showed last, to tell a change.
        QString shownFw;
        QString shownName;
    };
    using Devices = QMap<Key, Device>;
    enum class Phase { Off, FirstScan, Live };

    static Key keyOf(quint32 address, const QString &mac) { return { address, mac.toUpper() }; }
    // The devices admitted for address: [first, last).
    std::pair<Devices::iterator, Devices::iterator> devicesAt(quint32 address);
    int countAt(quint32 address) const;
    bool isShown(const Key &key) const { return m_rowOf.contains(key); }
    DeviceRow rowOf(const Key &key, const Device &device) const;
    // quiet: the caller tells what happened itself.
    void show(Devices::iterator device, bool quiet = false);
    void tell(Watch::Event event, Devices::const_iterator device);
    // A known device heard again during a watch.
    Admission heardAgain(Devices::iterator device, const Report &report);
    // During the live watch, a known MAC at the report's new address: its row moves there.
    std::optional<Admission> moveTo(const Report &report);
    Admission addAt(Devices::iterator added, const Report &report);
    void presenceChanged(Devices::iterator device, PresenceRule::Change change);
    void announcedNow(Device &device);
    void leave(Devices::iterator device);
    // Shows the device left alone on address again, no longer in a conflict.
    void showAlone(quint32 address);
    void rekey(const Key &from, const Key &to);
    // The device's MAC as it answered it itself; the iterator where the device now is.
    Devices::iterator takeMac(Devices::iterator device, const QString &mac);
    void removeRow(const Key &key);

    Devices m_devices;
    // The model's rows, in the order they were first shown, and each device's row.
    QVector<Key> m_rows;
    QHash<Key, int> m_rowOf;
    QSet<quint32> m_otherHosts;
    Phase m_phase = Phase::Off;
    bool m_linkLost = false;
    int m_outages = 0; // of the watched interface, since the store was made
    Clock m_clock;
};

#endif // DEVICESTORE_H
