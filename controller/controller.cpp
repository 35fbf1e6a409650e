#include "controller.h"

#include "base/devicerow.h"
#include "base/logtext.h"
#include "controller/csvexport.h"
#include "controller/devicetablewriter.h"
#include "controller/dialogprompts.h"
#include "controller/scanorchestration.h"
#include "controller/settingsstore.h"
#include "controller/watchsession.h"
#include "discovery/bonjourwinservice.h"
#include "discovery/identifycommand.h"
#include "platform/processlimits.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QDebug>
#include <QGuiApplication>
#include <QQmlContext>
#include <QScreen>

namespace {
const QString kVersionKey = QStringLiteral("APP_VERSION_NUMBER");
constexpr int kScanDelayMs = 300;
constexpr float kReferenceDpi = 96.0f;
} // namespace

Controller::Controller(QQmlContext *context, UserPrompts *prompts)
    : QObject(nullptr)
    , m_settings(new SettingsStore(context ? SettingsStore::Access::ReadWrite
                                           : SettingsStore::Access::ReadOnly))
    , m_ownPrompts(prompts ? nullptr : new DialogPrompts)
    , m_prompts(prompts ? prompts : m_ownPrompts.get())
{
    // A sweep keeps several hundred sockets open at once (workers, device queries).
    ProcessLimits::raiseDescriptorLimit();
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
    connect(&m_devices, &DeviceAssembly::settled, this, &Controller::deviceQueriesSettled);
    connect(&m_devices.store(), &DeviceStore::shown, this,
            [this](const DeviceRow &row) { emit deviceFound(row.ip, row.mac, row.fw, row.name); });
    connect(&m_devices.store(), &DeviceStore::removed, this,
            [this](const DeviceRow &row) { emit deviceRemoved(row.ip, row.mac); });
    refreshNetworkList();
    m_bonjourService = new BonjourWinService(context);
    m_scans = std::make_unique<ScanOrchestration>(m_bonjourService, m_inventory, m_devices);
    m_watch = std::make_unique<WatchSession>(m_bonjourService, *m_scans, m_devices, m_inventory);
    connectService();
    m_scanStart.setSingleShot(true);
    m_scanStart.setInterval(kScanDelayMs);
    connect(&m_scanStart, SIGNAL(timeout()), this, SLOT(onScanARP()));
}

void Controller::connectService()
{
    connect(m_bonjourService, SIGNAL(showWarningMessage(QString, int)), this,
            SLOT(onShowWarningMessageBox(QString, int)));
    connect(m_bonjourService, SIGNAL(pingIPResult(QString, bool)), this,
            SLOT(onPingIPResult(QString, bool)));
    connect(m_bonjourService, SIGNAL(deviceMacFound(QString, QString, QString, QString)), this,
            SLOT(onDeviceMacFound(QString, QString, QString, QString)));
    connect(m_bonjourService, SIGNAL(arpScanDone()), this, SLOT(onArpScanDone()));
    connect(m_scans.get(), &ScanOrchestration::ended, this, &Controller::arpScanDone);
    connect(m_scans.get(), &ScanOrchestration::infoMessage, this, &Controller::infoMessage);
    connect(m_scans.get(), &ScanOrchestration::failed, this, &Controller::scanFailed);
    connect(m_watch.get(), &WatchSession::eventText, this, &Controller::watchEvent);
    connect(m_watch.get(), &WatchSession::event, this, &Controller::watchEventOccurred);
    connect(m_watch.get(), &WatchSession::ended, this, &Controller::watchEnded);
    connect(m_watch.get(), &WatchSession::infoMessage, this, &Controller::infoMessage);
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
    const QScreen *screen = QGuiApplication::primaryScreen();
    return (screen ? float(screen->logicalDotsPerInchX()) : kReferenceDpi) / kReferenceDpi;
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
    emit infoMessage(InterfaceInventory::unavailableMessage());
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
    m_watch->stop();
    if (m_scans->start(ipString, scanTypeOf(scanType))) {
        m_scanStart.start();
    }
}

void Controller::startWatch(QString ipString, int scanType)
{
    m_scanStart.stop();
    if (m_watch->start(ipString, scanTypeOf(scanType))) {
        m_scanStart.start();
    }
}

void Controller::stopWatch()
{
    m_scanStart.stop();
    m_watch->stop();
}

void Controller::onScanARP()
{
    m_scans->startSweep();
}

int Controller::getArpProgress()
{
    return m_scans->progress();
}

void Controller::stopDiscover(int scanType)
{
    // A stop before the delayed start leaves nothing running behind the window's back.
    m_scanStart.stop();
    if (m_watch->isWatching()) {
        m_watch->stop();
        return;
    }
    m_scans->stop(scanTypeOf(scanType));
}

void Controller::onArpScanDone()
{
    if (m_scans->takeStop()) {
        // Stopped: what the workers found may still wait in this object's queue; it goes first,
        // so that the end reported here comes after every device of the sweep.
        QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    }
    m_scans->end();
}

void Controller::onDeviceMacFound(QString ipString, QString macString, QString fwString,
                                  QString nameString)
{
    qDebug().noquote().nospace() << "1. onDeviceMacFound: " << LogText::quoted(ipString) << ", "
                                 << LogText::quoted(macString) << "," << LogText::quoted(fwString)
                                 << "fwString" << LogText::quoted(nameString);
    m_devices.hostFound(ipString, macString, fwString, nameString);
}

void Controller::onPingIPResult(QString ipString, bool bSuccess)
{
    if (bSuccess) {
        m_devices.hostReachable(ipString);
    }
}

void Controller::setArpHelper(bool use, const QString &path)
{
    m_bonjourService->setArpHelper(use, path);
}

QString Controller::getSweptSubnet()
{
    return m_scans->sweptSubnet();
}

int Controller::getUnresolvedCount()
{
    return m_bonjourService ? m_bonjourService->unresolvedInstances() : 0;
}

bool Controller::sendTCPCommand(QString ip, quint16 port, QString command)
{
    return IdentifyCommand::send(ip, port, command);
}

bool Controller::indicateDevice(QString ipString)
{
    return sendTCPCommand(ipString, IdentifyCommand::kPort, IdentifyCommand::command());
}

void Controller::copyToClipboard(QStringList fields)
{
    QGuiApplication::clipboard()->setText(DeviceTableWriter::tabSeparated(fields));
}

QString Controller::saveDeviceTable()
{
    return CsvExport::save(*m_prompts, deviceRows());
}
