#include "commandlinescan.h"

#include "controller/terminal.h"

#include <QTextStream>

namespace {

constexpr int kProgressMs = 250;

} // namespace

CommandLineScan::CommandLineScan(Controller *controller, Terminal *terminal)
    : m_controller(controller)
{
    connect(controller, &Controller::arpScanDone, this, &CommandLineScan::onScanDone);
    connect(controller, &Controller::scanFailed, this, [this](Controller::ScanFailure reason) {
        m_failure = reason;
        finish(Outcome::Failed);
    });
    connect(controller, &Controller::infoMessage, this,
            [this](const QString &message) { m_notices << message; });
    connect(controller, &Controller::deviceQueriesSettled, this, [this] {
        if (m_waitingForQueries) {
            finish(Outcome::Done);
        }
    });
    connect(terminal, &Terminal::interrupted, this, [this] {
        // Recorded before the stop: a sweep reports its end inside stopDiscover, and that end
        // is the interrupt's, not a scan that ran to its end.
        finish(Outcome::Interrupted);
        m_controller->stopDiscover(int(m_scanType));
    });
    connect(&m_progress, &QTimer::timeout, this, &CommandLineScan::showProgress);
}

CommandLineScan::Outcome CommandLineScan::run(const QString &interfaceIp,
                                              Controller::ScanType scanType, int browseMs)
{
    m_scanType = scanType;
    m_browseMs = browseMs;
    m_clock.start();
    if (Terminal::errorIsTerminal()) {
        m_progress.start(kProgressMs);
    }
    m_controller->startDiscover(interfaceIp, int(scanType));
    if (scanType == Controller::ScanType::Mdns) {
        QTimer::singleShot(browseMs, this, [this] {
            m_controller->stopDiscover(int(Controller::ScanType::Mdns));
            finish(Outcome::Done);
        });
    }
    // An end reported already (an mDNS browse that cannot start, say) must not be waited for.
    if (!m_finished) {
        m_loop.exec();
    }
    if (m_progress.isActive()) {
        m_progress.stop();
        QTextStream(stderr) << "\r\x1b[K";
    }
    return m_outcome;
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

void CommandLineScan::finish(Outcome outcome)
{
    // The first reason to end stands: an interrupt or a failure is not undone by the end report
    // that follows it.
    if (m_outcome == Outcome::Done) {
        m_outcome = outcome;
    }
    m_finished = true;
    m_loop.quit();
}

void CommandLineScan::showProgress()
{
    QTextStream err(stderr);
    err << "\r\x1b[K";
    if (m_scanType == Controller::ScanType::Mdns) {
        const qint64 left = qMax<qint64>(0, m_browseMs - m_clock.elapsed()) / 1000;
        err << "Browsing, " << left << " s left: ";
    } else {
        err << "Scanning " << m_controller->getArpProgress() << "%: ";
    }
    const int devices = m_controller->deviceRows().size();
    err << devices << (devices == 1 ? " device" : " devices") << Qt::flush;
}
