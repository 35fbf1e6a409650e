#include "controller.h"

#include "base/devicerow.h"
#include "base/ipv4text.h"
#include "base/logtext.h"
#include "controller/addressrange.h"
#include "controller/csvexport.h"
#include "controller/devicetablewriter.h"
#include "controller/dialogprompts.h"
#include "controller/settingsstore.h"
#include "controller/vendorprefix.h"
#include "discovery/bonjourwinservice.h"
#include "discovery/devicequeries.h"
#include "discovery/devicerecords.h"
#include "discovery/identifycommand.h"
#include "platform/processlimits.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QDebug>
#include <QGuiApplication>
#include <QQmlContext>
#include <QQmlEngine>
#include <QScreen>

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
    , m_queries(new DeviceQueries)
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
    connect(m_queries.get(), &DeviceQueries::rowCompleted, this, &Controller::emitRow);
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
    connect(m_bonjourService, &BonjourWinService::deviceWithdrawn, this,
            &Controller::onDeviceWithdrawn);
    connect(m_bonjourService, &BonjourWinService::deviceHeardOutside, this,
            &Controller::onDeviceHeardOutside);
    connect(m_bonjourService, &BonjourWinService::arpHelperUnavailable, this,
            [this](const QString &reason) { m_arpHelperProblem = reason; });
    connect(m_bonjourService, &BonjourWinService::browseUnavailable, this,
            [this] { emit scanFailed(ScanFailure::BrowseUnavailable); });
    m_scanStart.setSingleShot(true);
    m_scanStart.setInterval(kScanDelayMs);
    connect(&m_scanStart, SIGNAL(timeout()), this, SLOT(onScanARP()));
}

Controller::~Controller()
{
    // The root context may have taken the service with it already; QPointer is then null.
    delete m_bonjourService.data();
}

void Controller::registerQmlTypes()
{
    qmlRegisterUncreatableType<Controller>("Lumisweep", 1, 0, "Controller",
                                           QStringLiteral("the window's controller is ctrl"));
}

Controller::ScanType Controller::scanTypeOf(int value)
{
    switch (value) {
    case int(ScanType::HttpDownload):
        return ScanType::HttpDownload;
    case int(ScanType::Mdns):
        return ScanType::Mdns;
    default:
        return ScanType::Arp;
    }
}

void Controller::shutdown()
{
    m_scanStart.stop();
    if (m_bonjourService) {
        m_bonjourService->shutdown();
    }
}

int Controller::pendingDeviceQueries() const
{
    return m_queries->pendingCount();
}

QVariant Controller::getSettingsValue(QString key)
{
    return m_settings->value(key);
}

void Controller::setSettingsValue(QString key, QVariant value)
{
    m_settings->setValue(key, value);
}

QString Controller::getAppTitleName()
{
    return QStringLiteral("%2 V%1").arg(versionNumber()).arg(QStringLiteral("Lumisweep"));
}

float Controller::getDpiScale()
{
    // Qt reads the desktop's setting (Xft.dpi, the compositor's scale), which is what the
    // window's pixel sizes are scaled by.
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
    m_queries->clear();
    m_admission.clear();
    m_table.clear();
    m_otherHosts.clear();
    m_currentIp = ipString;
    m_scanType = scanTypeOf(scanType);
    m_interfaceLost = false;
    m_arpHelperProblem.clear();
    if (m_scanType == ScanType::Mdns) {
        m_bonjourService->startDiscover();
        return;
    }
    if (m_scanType == ScanType::HttpDownload && !m_inventory.contains(ipString)) {
        m_inventory.insert(ipString, kDefaultNetmask);
    }
    m_scanStart.start();
}

void Controller::onScanARP()
{
    const QString netmask = m_inventory.netmaskOf(m_currentIp);
    const bool named = !m_range.isEmpty();
    const QVector<quint32> addresses = named ? AddressRange::fromRange(m_range)
                                             : AddressRange::fromInterface(m_currentIp, netmask);
    m_sweptSubnet = named ? m_range : AddressRange::sweptSubnet(m_currentIp, netmask);
    m_totalCount = addresses.size();
    SweepOrigin origin;
    origin.source = Ipv4Text::parse(m_currentIp).value_or(0);
    origin.interfaceName = m_inventory.interfaceNameOf(m_currentIp);
    origin.namedRange = named;
    m_queries->setRoutedAllowed(named && m_scanType == ScanType::HttpDownload);
    m_bonjourService->startArpScan(addresses, m_scanType == ScanType::HttpDownload, origin);
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
    if (scanTypeOf(scanType) == ScanType::Mdns) {
        m_bonjourService->stopDiscover();
        return;
    }
    // A stop before the delayed start leaves nothing running behind the window's back. The
    // device queries go on: their answers complete rows of devices already found, and only
    // the next scan drops them.
    m_scanStart.stop();
    m_flushBeforeEnd = true;
    m_bonjourService->stopArpScan();
}

void Controller::onArpScanDone()
{
    if (std::exchange(m_flushBeforeEnd, false)) {
        // Stopped: what the workers found before they ended may still wait in this object's
        // queue. It is handled first, so that the end reported here comes after every device of
        // the sweep.
        QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    }
    if (m_scanType != ScanType::Mdns) {
        for (const DeviceRow &row : m_queries->incompleteRows()) {
            emitRow(row);
            qDebug().noquote().nospace()
                << "onArpScanDone: " << row.ip << ";" << LogText::quoted(row.mac);
        }
    }
    emit arpScanDone();
    const int failures = m_bonjourService->sweepFailures();
    if (!m_arpHelperProblem.isEmpty()) {
        emit infoMessage(QStringLiteral("A range off this computer's links needs the ARP helper, "
                                        "which cannot run: %1")
                             .arg(std::exchange(m_arpHelperProblem, QString())));
        m_interfaceLost = false;
        emit scanFailed(ScanFailure::ArpHelperUnavailable);
    } else if (std::exchange(m_interfaceLost, false)) {
        emit infoMessage(kInterfaceUnavailable);
        emit scanFailed(ScanFailure::InterfaceLost);
    } else if (failures > 0 && m_scanType != ScanType::Mdns) {
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
    admit(m_scanType == ScanType::Mdns
              ? DeviceRecords::announced(ipString, macString, fwString, nameString)
              : DeviceRow { ipString, macString, QString(), QString() });
}

void Controller::onDeviceHeardOutside(quint32 address, const QString &macString)
{
    const QString ipString = Ipv4Text::format(address);
    qDebug().noquote().nospace() << "onDeviceHeardOutside: " << ipString << ", "
                                 << LogText::quoted(macString);
    DeviceRow row { ipString, macString, QString(), QString() };
    row.outsideSubnet = true;
    admit(row);
}

void Controller::admit(DeviceRow row)
{
    switch (m_admission.admit(row.ip, row.mac)) {
    case HostAdmission::Verdict::Rejected:
        if (!VendorPrefix::matches(row.mac)) {
            m_otherHosts.insert(row.ip);
        }
        return;
    case HostAdmission::Verdict::Conflict:
        // Two devices answer for one address: what the address answers over HTTP may come from
        // either, so no row gets a name or firmware it may not have sent. The earlier device
        // may have no row yet, its questions being on their way: it gets one now.
        m_queries->forget(row.ip);
        for (const QString &mac : m_admission.macsOf(row.ip)) {
            DeviceRow device = mac == row.mac
                ? row
                : m_table.row(row.ip, mac).value_or(DeviceRow { row.ip, mac, {}, {} });
            device.conflict = true;
            emitRow(device);
        }
        return;
    case HostAdmission::Verdict::New:
        break;
    }
    if (m_scanType == ScanType::Mdns || row.outsideSubnet) {
        // Nothing to ask: the announcement carries everything, and a host of another subnet
        // cannot be asked directly.
        emitRow(row);
        return;
    }
    m_queries->ask(row.ip, row.mac);
}

void Controller::onPingIPResult(QString ipString, bool bSuccess)
{
    if (bSuccess) {
        m_queries->askMacAddress(ipString);
    }
}

void Controller::emitRow(const DeviceRow &row)
{
    DeviceRow shown = row;
    // A conflict outlives the answers that complete a row later.
    shown.conflict = shown.conflict || m_admission.macsOf(row.ip).size() > 1;
    if (shown.conflict && m_scanType != ScanType::Mdns) {
        shown.fw.clear();
        shown.name.clear();
    }
    m_table.upsert(shown);
    emit deviceFound(shown.ip, shown.mac, shown.fw, shown.name);
    if (!shown.note().isEmpty()) {
        emit deviceNoted(shown.ip, shown.mac, shown.note());
    }
}

void Controller::onDeviceWithdrawn(const QString &ipString, const QString &macString)
{
    m_admission.forget(ipString);
    if (m_table.remove(ipString, macString)) {
        emit deviceRemoved(ipString, macString);
    }
}

void Controller::setArpHelper(bool use, const QString &path)
{
    m_bonjourService->setArpHelper(use, path);
}

int Controller::getConflictCount()
{
    QSet<QString> shared;
    for (const DeviceRow &row : m_table.rows()) {
        if (row.conflict) {
            shared.insert(row.ip);
        }
    }
    return shared.size();
}

int Controller::getUnresolvedCount()
{
    return m_bonjourService ? m_bonjourService->unresolvedInstances() : 0;
}

QString Controller::getInterfaceName(QString ipString)
{
    return m_inventory.interfaceNameOf(ipString);
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
