#ifndef CONTROLLER_H
#define CONTROLLER_H

#include <QMap>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QVariant>

class BonjourWinService;
class QNetworkAccessManager;
class QNetworkReply;
class QQmlContext;
class QSettings;

// The one object QML reaches, as "ctrl": settings, interface inventory, scans and device records.
class Controller : public QObject
{
    Q_OBJECT
public:
    explicit Controller(QQmlContext *context);
    ~Controller() override;

    void refreshNetworkList();
    bool sendTCPCommand(QString ip, quint16 port, QString command);
    // Ends a running sweep or browse before the QML engine (and with it the service) goes away.
    void shutdown();

signals:
    void deviceFound(QString ipString, QString macString, QString fwString, QString nameString);
    void arpScanDone();
    void infoMessage(QString message);

private slots:
    void onHttpFinished(QNetworkReply *reply);
    void onPingIPResult(QString ipString, bool bSuccess);
    void onDeviceMacFound(QString ipString, QString macString, QString fwString,
                          QString nameString);
    void onScanARP();
    void onArpScanDone();
    void onShowWarningMessageBox(QString message, int type);

public:
    Q_INVOKABLE QVariant getSettingsValue(QString key);
    Q_INVOKABLE void setSettingsValue(QString key, QVariant value);
    Q_INVOKABLE float getDpiScale();
    Q_INVOKABLE QStringList getNetworkList();
    Q_INVOKABLE bool isInterfaceAvailable(QString ipString);
    Q_INVOKABLE void startDiscover(QString ipString, int scanType);
    Q_INVOKABLE void stopDiscover(int scanType);
    Q_INVOKABLE int getArpProgress();
    Q_INVOKABLE bool checkStringIPV4(QString ipString);
    Q_INVOKABLE QString getAppTitleName();
    Q_INVOKABLE QString showInputAccount(QString macAddress);
    Q_INVOKABLE bool indicateDevice(QString ipString);

private:
    void sendDeviceQuery(const QString &ipString, const QString &path);
    void restrictSettingsFile();

    QSettings *m_settings = nullptr;
    // Parented to the QML root context, which may delete it first: QPointer notices that.
    QPointer<BonjourWinService> m_bonjourService;
    QNetworkAccessManager *m_networkManager = nullptr;
    QMap<QString, QMap<QString, QString>> m_deviceMap;
    QMap<QString, QString> m_netmaskMap;
    QStringList m_seenIpList;
    QString m_currentIp;
    int m_scanType = 0;
    int m_totalCount = 0;
};

#endif // CONTROLLER_H
