#include "controller.h"

#include "controller/addressrange.h"
#include "controller/vendorprefix.h"
#include "discovery/bonjourwinservice.h"
#include "discovery/boundedbody.h"
#include "discovery/devicereply.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHostAddress>
#include <QInputDialog>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkInterface>
#include <QNetworkReply>
#include <QQmlContext>
#include <QRegExp>
#include <QScreen>
#include <QSettings>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTimer>

namespace {
const QString kVersionNumber = QStringLiteral("2.7.1");
const QString kVersionKey = QStringLiteral("APP_VERSION_NUMBER");
const QString kAccountKey = QStringLiteral("ACCOUNT/%1");
const QString kDefaultNetmask = QStringLiteral("255.255.255.0");

// The encoders listen for the identify command on this port; nothing is read back.
constexpr quint16 kIdentifyPort = 1300;
const QString kIdentifyCommand = QStringLiteral("c0cmdset_identify-led");
constexpr int kConnectTimeoutMs = 5000;

constexpr int kScanDelayMs = 300;
constexpr float kReferenceDpi = 96.0f;

// The settings hold device accounts as user:password, so only the owner may read them.
constexpr QFile::Permissions kOwnerOnlyFolder
    = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
constexpr QFile::Permissions kOwnerOnlyFile = QFile::ReadOwner | QFile::WriteOwner;
} // namespace

Controller::Controller(QQmlContext *context) : QObject(nullptr), m_currentIp(QLatin1String(""))
{
    context->setContextProperty(QStringLiteral("ctrl"), this);

    const QString folder
        = QStandardPaths::standardLocations(QStandardPaths::AppLocalDataLocation).value(0);
    if (!QDir(folder).exists()) {
        QDir().mkpath(folder);
    }
    QFile::setPermissions(folder, kOwnerOnlyFolder);
    m_settings = new QSettings(QStringLiteral("%1/settings.ini").arg(folder), QSettings::IniFormat);
    restrictSettingsFile();

    setSettingsValue(kVersionKey, kVersionNumber);
    qDebug().noquote().nospace() << "Version Number = " << getSettingsValue(kVersionKey).toString()
                                 << " " << folder;

    m_networkManager = new QNetworkAccessManager();
    connect(m_networkManager, SIGNAL(finished(QNetworkReply *)), this,
            SLOT(onHttpFinished(QNetworkReply *)));

    refreshNetworkList();

    m_bonjourService = new BonjourWinService(context);
    connect(m_bonjourService, SIGNAL(showWarningMessage(QString, int)), this,
            SLOT(onShowWarningMessageBox(QString, int)));
    connect(m_bonjourService, SIGNAL(pingIPResult(QString, bool)), this,
            SLOT(onPingIPResult(QString, bool)));
    connect(m_bonjourService, SIGNAL(deviceMacFound(QString, QString, QString, QString)), this,
            SLOT(onDeviceMacFound(QString, QString, QString, QString)));
    connect(m_bonjourService, SIGNAL(arpScanDone()), this, SLOT(onArpScanDone()));
}

Controller::~Controller()
{
    delete m_settings;
    // The root context may have taken the service with it already; QPointer is then null.
    delete m_bonjourService.data();
    delete m_networkManager;
}

void Controller::shutdown()
{
    if (m_bonjourService) {
        m_bonjourService->shutdown();
    }
}

// ---- Settings, title, scale, dialogs ----

QVariant Controller::getSettingsValue(QString key)
{
    qDebug().noquote().nospace() << "[Controller::getSettingsValue], key = " << key;
    const QVariant value = m_settings->value(key, QVariant());
    const QString text = value.toString();
    if (text == QLatin1String("false") || text == QLatin1String("true")) {
        return QVariant(value.toBool());
    }
    return value;
}

void Controller::setSettingsValue(QString key, QVariant value)
{
    qDebug().noquote().nospace() << "[Controller::setSettingsValue], key = " << key
                                 << ", value = " << value;
    m_settings->setValue(key, value);
    m_settings->sync();
    restrictSettingsFile();
}

void Controller::restrictSettingsFile()
{
    // QSettings writes through a temporary file that is renamed into place; create the file
    // owner-only before the first write and reassert it after every one.
    const QString fileName = m_settings->fileName();
    if (!QFileInfo::exists(fileName)) {
        QFile file(fileName);
        if (file.open(QIODevice::WriteOnly)) {
            file.setPermissions(kOwnerOnlyFile);
        }
    }
    QFile::setPermissions(fileName, kOwnerOnlyFile);
}

QString Controller::getAppTitleName()
{
    return QStringLiteral("%2 V%1").arg(kVersionNumber).arg(QStringLiteral("Lumisweep"));
}

float Controller::getDpiScale()
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    const float dpi = screen ? static_cast<float>(screen->logicalDotsPerInchX()) : kReferenceDpi;
    return dpi / kReferenceDpi;
}

void Controller::onShowWarningMessageBox(QString message, int type)
{
    QMessageBox box;
    box.setTextFormat(Qt::RichText);
    box.setWindowTitle(type != 0 ? QStringLiteral("Info") : QStringLiteral("Warning"));
    box.setText(message);
    box.setStandardButtons(type != 0 ? QMessageBox::Yes : QMessageBox::Close);
    box.exec();
}

QString Controller::showInputAccount(QString macAddress)
{
    bool ok = false;
    const QString text = QInputDialog::getText(nullptr, QStringLiteral("Input account"),
                                               QStringLiteral("Example: admin:246813"),
                                               QLineEdit::Normal, QString(), &ok);
    if (!ok) {
        return QString();
    }
    setSettingsValue(kAccountKey.arg(macAddress), text);
    return text;
}

// ---- Interface inventory and address checks ----

void Controller::refreshNetworkList()
{
    m_netmaskMap.clear();
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &networkInterface : interfaces) {
        const QList<QNetworkAddressEntry> entries = networkInterface.addressEntries();
        for (const QNetworkAddressEntry &entry : entries) {
            const QHostAddress address = entry.ip();
            if (address.protocol() != QAbstractSocket::IPv4Protocol
                || address == QHostAddress(QHostAddress::LocalHost)) {
                continue;
            }
            qDebug().noquote().nospace() << address.toString() << "/" << entry.netmask().toString();
            m_netmaskMap.insert(address.toString(), entry.netmask().toString());
        }
    }
}

QStringList Controller::getNetworkList()
{
    return m_netmaskMap.keys();
}

bool Controller::isInterfaceAvailable(QString ipString)
{
    refreshNetworkList();
    const QString netmask = m_netmaskMap.value(ipString);
    if (netmask.split(QLatin1Char('.')).size() > 3) {
        return true;
    }
    emit infoMessage(QStringLiteral("The interface is not available!"));
    return false;
}

bool Controller::checkStringIPV4(QString ipString)
{
    const QRegExp pattern(QStringLiteral("\\d{1,3}\\.\\d{1,3}\\.\\d{1,3}\\.\\d{1,3}"),
                          Qt::CaseSensitive, QRegExp::RegExp);
    if (pattern.exactMatch(ipString)) {
        return true;
    }
    QMessageBox::warning(nullptr, QStringLiteral("Error!"),
                         QStringLiteral("IP address format is incorrect"), QMessageBox::Ok,
                         QMessageBox::NoButton);
    return false;
}

// ---- Scan orchestration ----

void Controller::startDiscover(QString ipString, int scanType)
{
    m_deviceMap.clear();
    m_seenIpList.clear();
    m_currentIp = ipString;
    m_scanType = scanType;
    if (scanType == 3) {
        m_bonjourService->startDiscover();
        return;
    }
    if (scanType == 2 && !m_netmaskMap.contains(ipString)) {
        m_netmaskMap.insert(ipString, kDefaultNetmask);
    }
    QTimer::singleShot(kScanDelayMs, this, SLOT(onScanARP()));
}

void Controller::onScanARP()
{
    if (!m_bonjourService) {
        return;
    }
    const QStringList list
        = AddressRange::fromInterface(m_currentIp, m_netmaskMap[m_currentIp], &m_totalCount);
    m_bonjourService->startArpScan(list, m_scanType == 2);
}

int Controller::getArpProgress()
{
    if (m_totalCount == 0) {
        return 0;
    }
    const float remaining = static_cast<float>(m_bonjourService->remainingCount());
    const float percent = (1.0f - remaining / static_cast<float>(m_totalCount)) * 100.0f;
    // The window shows this as a percentage: keep it inside 0..100 whatever the mask was.
    return qBound(0, static_cast<int>(percent), 100);
}

void Controller::stopDiscover(int scanType)
{
    if (scanType == 3) {
        m_bonjourService->stopDiscover();
    } else {
        m_bonjourService->stopArpScan();
    }
}

void Controller::onArpScanDone()
{
    if (m_scanType != 3) {
        const QMap<QString, QMap<QString, QString>> snapshot = m_deviceMap;
        for (auto it = snapshot.cbegin(); it != snapshot.cend(); ++it) {
            const QMap<QString, QString> &record = it.value();
            if (record.size() < 3 && record.contains(DeviceReply::macAddressPath())) {
                const QString mac = record.value(DeviceReply::macAddressPath());
                emit deviceFound(it.key(), mac, QString(), QString());
                qDebug().noquote().nospace() << "onArpScanDone: " << it.key() << ";" << mac;
            }
        }
    }
    emit arpScanDone();
}

// ---- Device record assembly ----

void Controller::onDeviceMacFound(QString ipString, QString macString, QString fwString,
                                  QString nameString)
{
    qDebug().noquote().nospace() << "1. onDeviceMacFound: " << ipString << ", " << macString << ","
                                 << fwString << "fwString" << nameString;
    if (!VendorPrefix::matches(macString)) {
        return;
    }
    if (m_seenIpList.contains(ipString)) {
        return;
    }
    m_seenIpList.append(ipString);

    if (m_scanType == 3) {
        if (fwString.contains(QLatin1String("NULL"))) {
            fwString.clear();
        }
        if (nameString.contains(QLatin1String("NULL"))) {
            nameString.clear();
        }
        emit deviceFound(ipString, macString, fwString, nameString);
        return;
    }
    m_deviceMap[ipString][DeviceReply::macAddressPath()] = macString;
    sendDeviceQuery(ipString, DeviceReply::deviceNamePath());
    sendDeviceQuery(ipString, DeviceReply::fwVersionPath());
}

void Controller::onPingIPResult(QString ipString, bool bSuccess)
{
    if (bSuccess) {
        sendDeviceQuery(ipString, DeviceReply::macAddressPath());
    }
}

void Controller::sendDeviceQuery(const QString &ipString, const QString &path)
{
    QNetworkReply *reply
        = m_networkManager->get(QNetworkRequest(DeviceReply::urlFor(ipString, path)));
    BoundedBody::attach(reply);
}

void Controller::onHttpFinished(QNetworkReply *reply)
{
    // Each reply is handled once; release it with the event loop's next turn.
    reply->deleteLater();

    const QString urlText = reply->url().toString();
    QString address;
    qDebug().noquote().nospace() << "onHttpFinished: " << urlText;

    if (BoundedBody::error(reply) != QNetworkReply::NoError) {
        const QString path = DeviceReply::pathOf(urlText);
        if (!path.isEmpty()) {
            address = DeviceReply::addressOf(urlText);
            m_deviceMap[address][path] = QString();
        }
    } else {
        const QString contentType = reply->header(QNetworkRequest::ContentTypeHeader).toString();
        qDebug().noquote().nospace() << "contentTypeHeader: " << contentType;
        if (!DeviceReply::isAcceptedContentType(contentType)) {
            return;
        }
        const QByteArray body = BoundedBody::readAll(reply);
        // Quoted: a device body may carry control characters that would forge log lines.
        qDebug().nospace() << "Data: " << body;
        const QString path = DeviceReply::pathOf(urlText);
        if (!path.isEmpty()) {
            address = DeviceReply::addressOf(urlText);
            const bool utf8 = path == DeviceReply::deviceNamePath();
            m_deviceMap[address][path] = DeviceReply::decodeBody(body, utf8);
        }
    }

    const auto record = m_deviceMap.constFind(address);
    if (record == m_deviceMap.cend()) {
        return;
    }
    if (record->contains(DeviceReply::deviceNamePath())
        && record->contains(DeviceReply::fwVersionPath())
        && record->contains(DeviceReply::macAddressPath())) {
        const QString mac = record->value(DeviceReply::macAddressPath());
        const QString fw = record->value(DeviceReply::fwVersionPath());
        const QString name = record->value(DeviceReply::deviceNamePath());
        emit deviceFound(address, mac, fw, name);
        qDebug().noquote().nospace()
            << "IP URL: " << address << ";" << mac << "," << fw << "," << name;
    }
}

// ---- Identify command ----

bool Controller::indicateDevice(QString ipString)
{
    return sendTCPCommand(ipString, kIdentifyPort, kIdentifyCommand);
}

bool Controller::sendTCPCommand(QString ip, quint16 port, QString command)
{
    QTcpSocket socket;
    qint64 written = 0;
    const QHostAddress address(ip);
    bool connected = false;
    // A host name or an empty text is no address: nothing is looked up, nothing is sent.
    if (!address.isNull()) {
        socket.connectToHost(address, port, QIODevice::ReadWrite);
        connected = socket.waitForConnected(kConnectTimeoutMs);
    }
    if (connected) {
        qDebug().noquote().nospace() << "sendTCPCommand " << ip << " " << port;
        const QByteArray bytes = command.toLatin1();
        written = socket.write(bytes.constData(), command.length());
        qDebug().noquote().nospace() << "sendTCPCommand "
                                     << "write bytes " << written;
        socket.flush();
        socket.disconnectFromHost();
    } else {
        qDebug().noquote().nospace() << "sendTCPCommand "
                                     << "Connection Failed!";
    }
    return written == command.length();
}
