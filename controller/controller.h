#ifndef CONTROLLER_H
#define CONTROLLER_H

#include "base/watchevent.h"
#include "controller/deviceassembly.h"
#include "controller/desktopnotifier.h"
#include "controller/interfaceinventory.h"
#include "controller/settingsstore.h"

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QVariant>

#include <memory>

class BonjourWinService;
class QQmlContext;
class ScanOrchestration;
class UserPrompts;
class WatchSession;
struct DeviceRow;

// The one object the window reaches, as "ctrl", and the command line's way into the program:
// settings, interface inventory, scans and watches and their devices. Its scans are run by the
// scan orchestration on the discovery service, their devices assembled by the device assembly,
// whose store the window shows; a watch is a scan that goes on (WatchSession).
//
// The watch, for the window: startWatch, stopWatch, isWatching; each event comes as watchEvent
// (and watchEventOccurred for C++), the last one "end" (watchEnded says why). The device model's
// rows then also say whether a device has departed and when (roles departed, departedAt), when
// it appeared (appearedAt, and isNew for a device new since the first scan), and where a moved
// device was (its note, "was 198.18.0.20"). The info line's figures: getSweptSubnet (what is
// watched), getDeviceCount, getNewDeviceCount, getGoneDeviceCount; clearDeparted drops the
// departed rows; notifyAppeared tells the desktop of a new device (DesktopNotifier).
class Controller : public QObject
{
    Q_OBJECT
public:
    // The window passes these as plain numbers, 1 to 3.
    enum class ScanType { Arp = 1, HttpDownload = 2, Mdns = 3 };
    Q_ENUM(ScanType)
    // Why a scan could not run, or ended before its time.
    enum class ScanFailure {
        InterfaceLost, // the swept interface went away during the sweep
        BrowseUnavailable, // no DNS-SD library or daemon for the mDNS browse
        ArpHelperUnavailable // a range off this machine's links, and no ARP helper to sweep it
    };
    Q_ENUM(ScanFailure)

    // context: where "ctrl" is published, and the discovery service's parent; may be null
    // where no window exists (the command line), which then only reads the settings and leaves
    // no file behind. prompts: how the user is told and asked; message boxes when null.
    explicit Controller(QQmlContext *context, UserPrompts *prompts = nullptr);
    ~Controller() override;

    // Any number other than 2 and 3 means ARP.
    static ScanType scanTypeOf(int value)
    {
        return value == int(ScanType::HttpDownload) || value == int(ScanType::Mdns)
            ? ScanType(value)
            : ScanType::Arp;
    }
    // The product's version, as the title shows it.
    static QString versionNumber() { return QStringLiteral(LUMISWEEP_VERSION); }
    void refreshNetworkList() { m_inventory.refresh(); }
    bool sendTCPCommand(QString ip, quint16 port, QString command);
    // Ends a running sweep or browse before the QML engine (and with it the service) goes away.
    void shutdown();
    // The machine's interfaces as of the last refresh.
    const InterfaceInventory &inventory() const { return m_inventory; }
    // The pause between startDiscover and the start of a sweep, 300 ms for the window; a caller
    // without a window to draw first may start at once.
    void setSweepDelay(int milliseconds) { m_scanStart.setInterval(milliseconds); }
    // Device queries still waiting or in flight; deviceQueriesSettled when none is left.
    int pendingDeviceQueries() const { return m_devices.pendingQueries(); }
    // The devices of the current or last scan, one row each, in address order.
    QVector<DeviceRow> deviceRows() const { return m_devices.store().rows(); }
    // How the scans run, for the command line: the range swept instead of the interface's
    // subnet, the watch's sweep period, whether the kernel has a route to a range.
    ScanOrchestration &scans() { return *m_scans; }
    // Whether ARP sweeps may use the helper, and where it is (empty: the program's default).
    void setArpHelper(bool use, const QString &path = QString());

signals:
    // A device's row, new or replacing the one with the same address and MAC.
    void deviceFound(QString ipString, QString macString, QString fwString, QString nameString);
    // The device's row is no longer true (an mDNS device announced a new address).
    void deviceRemoved(QString ipString, QString macString);
    void arpScanDone();
    void infoMessage(QString message);
    // The window still shows its message for each; this says which it was.
    void scanFailed(Controller::ScanFailure reason);
    void deviceQueriesSettled();
    // One event of a watch. eventString: "present", "appeared", "changed", "conflict",
    // "departed", "returned", "interface-lost", "interface-back" or "end". The row is the
    // device's as it now is; for the interface's events ipString is its address and noteString
    // its name, for "end" noteString says why.
    void watchEvent(QString eventString, QString ipString, QString macString, QString fwString,
                    QString nameString, QString noteString);
    // The same, typed: detail is the interface's name, or why the watch ended.
    void watchEventOccurred(Watch::Event event, const DeviceRow &row, const QString &detail);
    void watchEnded(Watch::End reason, const QString &message);

private slots:
    void onPingIPResult(QString ipString, bool bSuccess);
    void onDeviceMacFound(QString ipString, QString macString, QString fwString,
                          QString nameString);
    void onScanARP();
    void onArpScanDone();
    void onShowWarningMessageBox(QString message, int type);

public:
    Q_INVOKABLE QVariant getSettingsValue(QString key) { return m_settings->value(key); }
    Q_INVOKABLE void setSettingsValue(QString key, QVariant value)
    {
        m_settings->setValue(key, value);
    }
    // The desktop's setting as Qt reads it (Xft.dpi, the compositor's scale), over 96.
    Q_INVOKABLE float getDpiScale();
    Q_INVOKABLE QStringList getNetworkList() { return m_inventory.addresses(); }
    Q_INVOKABLE bool isInterfaceAvailable(QString ipString);
    Q_INVOKABLE void startDiscover(QString ipString, int scanType);
    Q_INVOKABLE void stopDiscover(int scanType);
    Q_INVOKABLE int getArpProgress();
    Q_INVOKABLE bool checkStringIPV4(QString ipString);
    Q_INVOKABLE QString getAppTitleName();
    Q_INVOKABLE QString showInputAccount(QString macAddress);
    Q_INVOKABLE bool indicateDevice(QString ipString);
    // The name of the interface that has this address, empty when none has.
    Q_INVOKABLE QString getInterfaceName(QString ipString)
    {
        return m_inventory.interfaceNameOf(ipString);
    }
    // What the last sweep covered, as "network/prefix"; empty before a sweep.
    Q_INVOKABLE QString getSweptSubnet();
    // Hosts of this scan that answered but are not encoders.
    Q_INVOKABLE int getOtherHostCount() { return m_devices.store().otherHostCount(); }
    // Addresses of this scan that more than one device answers for.
    Q_INVOKABLE int getConflictCount() { return m_devices.store().conflictCount(); }
    // The scan's devices as a list model (roles ip, mac, fw, name, note, conflict,
    // outsideSubnet, answered), one row per device: what the window's table shows, sorted by
    // its proxy.
    Q_INVOKABLE QObject *getDeviceModel() { return &m_devices.store(); }

    // One scan by ARP (1) or mDNS (3), then live until stopWatch: devices that appear, change,
    // collide and leave are told as watchEvent. Http Download (2) has no watch.
    Q_INVOKABLE void startWatch(QString ipString, int scanType);
    Q_INVOKABLE void stopWatch();
    Q_INVOKABLE bool isWatching() { return m_devices.store().isWatching(); }
    // Drops the rows of departed devices; one that comes back then is new.
    Q_INVOKABLE void clearDeparted() { m_devices.store().clearDeparted(); }
    // During a watch: devices there, those of them new since the first scan, departed ones.
    Q_INVOKABLE int getDeviceCount() { return m_devices.store().presentCount(); }
    Q_INVOKABLE int getNewDeviceCount() { return m_devices.store().newCount(); }
    Q_INVOKABLE int getGoneDeviceCount() { return m_devices.store().goneCount(); }
    // A desktop notification of a device that appeared, for a window the user is not looking
    // at.
    Q_INVOKABLE void notifyAppeared(QString ipString, QString nameString)
    {
        m_notifier.deviceAppeared(ipString, nameString);
    }

    // The window's row actions. Fields go to the clipboard tab-separated, as spreadsheets
    // paste them.
    Q_INVOKABLE void copyToClipboard(QStringList fields);
    // Asks where to, and saves the scan's rows as CSV; the line for the info box, empty when
    // the user cancelled.
    Q_INVOKABLE QString saveDeviceTable();
    // Instances the mDNS browse heard of that gave no address, so no row; the final count once
    // the browse has stopped.
    Q_INVOKABLE int getUnresolvedCount();

private:
    void connectService();

    std::unique_ptr<SettingsStore> m_settings;
    // Parented to the QML root context, which may delete it first: QPointer notices that.
    QPointer<BonjourWinService> m_bonjourService;
    InterfaceInventory m_inventory;
    // A child, and so is its store: QML, which is handed that, must not take it for its own.
    DeviceAssembly m_devices { this };
    std::unique_ptr<ScanOrchestration> m_scans;
    std::unique_ptr<WatchSession> m_watch;
    DesktopNotifier m_notifier;
    std::unique_ptr<UserPrompts> m_ownPrompts;
    UserPrompts *m_prompts = nullptr;
    // The delayed start of a sweep; a stop before it fires cancels it.
    QTimer m_scanStart;
};

#endif // CONTROLLER_H
