#include "controller.h"

#include "controller/addressrange.h"
#include "controller/devicequeries.h"
#include "controller/dialogprompts.h"
#include "controller/identifycommand.h"
#include "controller/interfaceinventory.h"
#include "controller/settingsstore.h"
#include "discovery/bonjourwinservice.h"
#include "discovery/deviceprotocol.h"
#include "discovery/logtext.h"
#include "platform/displayscale.h"

#include <QDebug>
#include <QNetworkReply>
#include <QQmlContext>

namespace {
const QString kVersionKey = QStringLiteral("APP_VERSION_NUMBER");
const QString kDefaultNetmask = QStringLiteral("255.255.255.0");
const QString kInterfaceUnavailable = QStringLiteral("The interface is not available!");
constexpr int kScanDelayMs = 300;
constexpr float kReferenceDpi = 96.0f;
} // namespace

Controller::Controller(QQmlContext *context, UserPrompts *prompts)
    : QObject(nullptr)
    , m_settings(new SettingsStore)
    , m_currentIp(QLatin1String(""))
    , m_queries(new DeviceQueries(&m_records))
    , m_ownPrompts(prompts ? nullptr : new DialogPrompts)
    , m_prompts(prompts ? prompts : m_ownPrompts.get())
{
    if (context) {
        context->setContextProperty(QStringLiteral("ctrl"), this);
    }
    setSettingsValue(kVersionKey, versionNumber());
    qDebug().noquote().nospace() << "Version Number = " << getSettingsValue(kVersionKey).toString()
                                 << " " << m_settings->folder();
    if (!m_settings->problem().isEmpty()) {
        // Once the event loop runs, so that the box stands over the window.
        QTimer::singleShot(0, this, [this] { m_prompts->warn(m_settings->problemText()); });
    }
    connect(m_queries.get(), SIGNAL(replyFinished(QNetworkReply *)), this,
            SLOT(onHttpFinished(QNetworkReply *)));
    connect(m_queries.get(), &DeviceQueries::deviceFound, this, &Controller::emitRow);
    connect(m_queries.get(), &DeviceQueries::settled, this, &Controller::deviceQueriesSettled);
    refreshNetworkList();

    m_bonjourService = new BonjourWinService(context);
    connect(m_bonjourService, SIGNAL(showWarningMessage(QString, int)), this,
            SLOT(onShowWarningMessageBox(QString, int)));
    connect(m_bonjourService, SIGNAL(pingIPResult(QString, bool)), this,
            SLOT(onPingIPResult(QString, bool)));
    connect(m_bonjourService, SIGNAL(deviceMacFound(QString, QString, QString, QString)), this,
            SLOT(onDeviceMacFound(QString, QString, QString, QString)));
    connect(m_bonjourService, SIGNAL(arpScanDone()), this, SLOT(onArpScanDone()));
    connect(m_bonjourService, &BonjourWinService::interfaceLost, this,
            [this] { m_interfaceLost = true; });
    m_scanStart.setSingleShot(true);
    m_scanStart.setInterval(kScanDelayMs);
    connect(&m_scanStart, SIGNAL(timeout()), this, SLOT(onScanARP()));
}

Controller::~Controller()
{
    // The root context may have taken the service with it already; QPointer is then null.
    delete m_bonjourService.data();
}

void Controller::shutdown()
{
    m_scanStart.stop();
    if (m_bonjourService) {
        m_bonjourService->shutdown();
    }
}

QString Controller::getAppTitleName()
{
    return QStringLiteral("%2 V%1").arg(versionNumber()).arg(QStringLiteral("Lumisweep"));
}

float Controller::getDpiScale()
{
    return DisplayScale::logicalDpi() / kReferenceDpi;
}

void Controller::onShowWarningMessageBox(QString message, int type)
{
    m_prompts->showMessage(
        { type != 0 ? QStringLiteral("Info") : QStringLiteral("Warning"), message,
          type != 0 ? UserPrompts::Button::Yes : UserPrompts::Button::Close, true });
}

QString Controller::showInputAccount(QString macAddress)
{
    const std::optional<QString> text = m_prompts->askText(QStringLiteral("Input account"),
                                                           QStringLiteral("Example: admin:246813"));
    if (!text) {
        return QString();
    }
    if (!m_settings->setValue(SettingsStore::accountKey(macAddress), *text)) {
        m_prompts->warn(QStringLiteral("The account for %1 was not saved. %2")
                            .arg(macAddress, m_settings->problemText()));
    }
    return *text;
}

bool Controller::isInterfaceAvailable(QString ipString)
{
    refreshNetworkList();
    if (m_inventory.hasUsableNetmask(ipString)) {
        return true;
    }
    emit infoMessage(kInterfaceUnavailable);
    return false;
}

bool Controller::checkStringIPV4(QString ipString)
{
    if (InterfaceInventory::hasAddressForm(ipString)) {
        return true;
    }
    m_prompts->showMessage({ QStringLiteral("Error!"),
                             QStringLiteral("IP address format is incorrect"),
                             UserPrompts::Button::Ok, false, true });
    return false;
}

void Controller::startDiscover(QString ipString, int scanType)
{
    // Replies to the previous scan's queries must not land in this scan's records.
    m_queries->abortAll();
    m_records.clear();
    m_currentIp = ipString;
    m_scanType = scanType;
    m_interfaceLost = false;
    if (scanType == 3) {
        m_bonjourService->startDiscover();
        return;
    }
    if (scanType == 2 && !m_inventory.contains(ipString)) {
        m_inventory.insert(ipString, kDefaultNetmask);
    }
    m_scanStart.start();
}

void Controller::onScanARP()
{
    if (!m_bonjourService) {
        return;
    }
    const QVector<quint32> addresses
        = AddressRange::fromInterface(m_currentIp, m_inventory.netmaskOf(m_currentIp));
    m_totalCount = addresses.size();
    m_bonjourService->startArpScan(addresses, m_scanType == 2);
}

int Controller::getArpProgress()
{
    if (m_totalCount == 0) {
        return 0;
    }
    const float remaining = float(m_bonjourService->remainingCount());
    return qBound(0, int((1.0f - remaining / float(m_totalCount)) * 100.0f), 100);
}

void Controller::stopDiscover(int scanType)
{
    if (scanType == 3) {
        m_bonjourService->stopDiscover();
        return;
    }
    // A stop before the delayed start leaves nothing running behind the window's back.
    m_scanStart.stop();
    m_queries->abortAll();
    m_bonjourService->stopArpScan();
}

void Controller::onArpScanDone()
{
    if (m_scanType != 3) {
        for (const DeviceRow &row : m_records.incompleteRows()) {
            emit deviceFound(row.ip, row.mac, QString(), QString());
            qDebug().noquote().nospace()
                << "onArpScanDone: " << row.ip << ";" << LogText::quoted(row.mac);
        }
    }
    emit arpScanDone();
    const int failures = m_bonjourService->sweepFailures();
    if (std::exchange(m_interfaceLost, false)) {
        emit infoMessage(kInterfaceUnavailable);
    } else if (failures > 0 && m_scanType != 3) {
        emit infoMessage(
            QStringLiteral("Warning: %1 addresses could not be checked!").arg(failures));
    }
}

void Controller::onDeviceMacFound(QString ipString, QString macString, QString fwString,
                                  QString nameString)
{
    qDebug().noquote().nospace() << "1. onDeviceMacFound: " << LogText::quoted(ipString) << ", "
                                 << LogText::quoted(macString) << "," << LogText::quoted(fwString)
                                 << "fwString" << LogText::quoted(nameString);
    if (!m_records.admit(ipString, macString)) {
        return;
    }
    if (m_scanType == 3) {
        emitRow(DeviceRecordAssembler::announced(ipString, macString, fwString, nameString));
        return;
    }
    m_records.startRecord(ipString, macString);
    m_queries->send(ipString, DeviceProtocol::deviceNamePath());
    m_queries->send(ipString, DeviceProtocol::fwVersionPath());
}

void Controller::onPingIPResult(QString ipString, bool bSuccess)
{
    if (bSuccess) {
        m_queries->send(ipString, DeviceProtocol::macAddressPath());
    }
}

void Controller::onHttpFinished(QNetworkReply *reply)
{
    // Each reply is handled once; release it with the event loop's next turn.
    reply->deleteLater();
    qDebug().noquote().nospace() << "onHttpFinished: " << reply->url().toString();
    m_queries->finish(reply);
}

void Controller::emitRow(const DeviceRow &row)
{
    emit deviceFound(row.ip, row.mac, row.fw, row.name);
}

bool Controller::indicateDevice(QString ipString)
{
    return sendTCPCommand(ipString, IdentifyCommand::kPort, IdentifyCommand::command());
}
