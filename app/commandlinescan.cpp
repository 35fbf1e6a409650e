#include "commandlinescan.h"

#include "app/consoleprompts.h"
#include "controller/controller.h"
#include "discovery/ipv4text.h"
#include "platform/console.h"

#include <QTextStream>

namespace {

constexpr int kProgressMs = 250;
const QString kInterfaceUnavailable = QStringLiteral("The interface is not available!");

} // namespace

CommandLineScan::CommandLineScan(Controller *controller, ConsolePrompts *prompts, Console *console)
    : m_controller(controller), m_prompts(prompts), m_console(console)
{
    connect(controller, &Controller::deviceFound, this, &CommandLineScan::onDeviceFound);
    connect(controller, &Controller::arpScanDone, this, &CommandLineScan::onScanDone);
    connect(controller, &Controller::infoMessage, this, &CommandLineScan::onInfoMessage);
    connect(controller, &Controller::deviceQueriesSettled, this, [this] {
        if (m_waitingForQueries) {
            finish(Outcome::Done);
        }
    });
    connect(console, &Console::interrupted, this, [this] {
        // A sweep ends inside this call: its last rows and arpScanDone arrive before it returns.
        m_controller->stopDiscover(m_scanType);
        finish(Outcome::Interrupted);
    });
    m_prompts->onShown = [this](const UserPrompts::Message &message) {
        // The discovery service's warning (the only message with a link) says the browse
        // cannot run; the others, about settings, do not stop a scan.
        if (message.richText) {
            finish(Outcome::Failed);
        }
    };
    connect(&m_progress, &QTimer::timeout, this, &CommandLineScan::showProgress);
}

CommandLineScan::Outcome CommandLineScan::run(const QString &interfaceIp, int scanType,
                                              int browseMs)
{
    m_scanType = scanType;
    m_browseMs = browseMs;
    m_clock.start();
    if (Console::errorIsTerminal()) {
        m_progress.start(kProgressMs);
    }
    m_controller->startDiscover(interfaceIp, scanType);
    if (scanType == 3) {
        QTimer::singleShot(browseMs, this, [this] {
            m_controller->stopDiscover(3);
            finish(Outcome::Done);
        });
    }
    m_loop.exec();
    if (m_progress.isActive()) {
        m_progress.stop();
        QTextStream(stderr) << "\r\x1b[K";
    }
    return m_outcome;
}

void CommandLineScan::onDeviceFound(const QString &ip, const QString &mac, const QString &fw,
                                    const QString &name)
{
    // Numeric order; an address that cannot be read sorts after every real one. A row that
    // arrives again (complete after the sweep's end reported it incomplete) replaces it.
    const std::optional<quint32> address = Ipv4Text::parse(ip);
    const quint64 key = address ? *address : (quint64(1) << 32) + qHash(ip);
    m_rows.insert(key, DeviceRow { ip, mac, fw, name });
}

void CommandLineScan::onScanDone()
{
    if (m_controller->pendingDeviceQueries() > 0) {
        // Names and firmware still on their way; each query is bounded in time.
        m_waitingForQueries = true;
        return;
    }
    finish(Outcome::Done);
}

void CommandLineScan::onInfoMessage(const QString &message)
{
    if (message == kInterfaceUnavailable) {
        finish(Outcome::Failed);
    }
}

void CommandLineScan::finish(Outcome outcome)
{
    // The first reason to end stands: a failure reported while a stop ends the scan is kept.
    if (m_loop.isRunning() && m_outcome == Outcome::Done) {
        m_outcome = outcome;
    }
    m_loop.quit();
}

void CommandLineScan::showProgress()
{
    QTextStream err(stderr);
    err << "\r\x1b[K";
    if (m_scanType == 3) {
        const qint64 left = qMax<qint64>(0, m_browseMs - m_clock.elapsed()) / 1000;
        err << "Browsing, " << left << " s left: ";
    } else {
        err << "Scanning " << m_controller->getArpProgress() << "%: ";
    }
    err << m_rows.size() << (m_rows.size() == 1 ? " device" : " devices") << Qt::flush;
}
