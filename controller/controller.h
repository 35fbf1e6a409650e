#ifndef CONTROLLER_H
#define CONTROLLER_H

#include "controller/devicequeries.h"
#include "controller/devicerecordassembler.h"
#include "controller/identifycommand.h"
#include "controller/interfaceinventory.h"
#include "controller/settingsstore.h"

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QVariant>

#include <memory>

class BonjourWinService;
class QNetworkReply;
class QQmlContext;
class UserPrompts;

// The one object QML reaches, as "ctrl": settings, interface inventory, scans and device
// records. It holds the scan's state and hands the work to the classes beside it.
class Controller : public QObject
{
    Q_OBJECT
public:
    // context: where "ctrl" is published, and the discovery service's parent; may be null
    // where no window exists (the command line). prompts: how the user is told and asked;
    // message boxes when null.
    explicit Controller(QQmlContext *context, UserPrompts *prompts = nullptr);
    ~Controller() override;

    // The product's version, as the title shows it.
    static QString versionNumber() { return QStringLiteral("2.7.1"); }
    void refreshNetworkList() { m_inventory.refresh(); }
    bool sendTCPCommand(QString ip, quint16 port, QString command)
    {
        return IdentifyCommand::send(ip, port, command);
    }
    // Ends a running sweep or browse before the QML engine (and with it the service) goes away.
    void shutdown();
    // The inventory's netmask for an interface address, empty when it has none.
    QString netmaskOf(const QString &ipString) const { return m_inventory.netmaskOf(ipString); }
    // The pause between startDiscover and the start of a sweep, 300 ms for the window; a caller
    // without a window to draw first may start at once.
    void setSweepDelay(int milliseconds) { m_scanStart.setInterval(milliseconds); }
    // Device queries still waiting or in flight; deviceQueriesSettled when none is left.
    int pendingDeviceQueries() const { return m_queries->pendingCount(); }

signals:
    void deviceFound(QString ipString, QString macString, QString fwString, QString nameString);
    void arpScanDone();
    void infoMessage(QString message);
    void deviceQueriesSettled();

private slots:
    void onHttpFinished(QNetworkReply *reply);
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

private:
    void emitRow(const DeviceRow &row);

    std::unique_ptr<SettingsStore> m_settings;
    // Parented to the QML root context, which may delete it first: QPointer notices that.
    QPointer<BonjourWinService> m_bonjourService;
    DeviceRecordAssembler m_records;
    InterfaceInventory m_inventory;
    QString m_currentIp;
    int m_scanType = 0;
    int m_totalCount = 0;
    std::unique_ptr<DeviceQueries> m_queries;
    std::unique_ptr<UserPrompts> m_ownPrompts;
    UserPrompts *m_prompts = nullptr;
    // The delayed start of a sweep; a stop before it fires cancels it.
    QTimer m_scanStart;
    bool m_interfaceLost = false;
};

#endif // CONTROLLER_H
