#ifndef COMMANDLINESCAN_H
#define COMMANDLINESCAN_H

#include "base/devicerow.h"
#include "controller/controller.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QObject>
#include <QTimer>

#include <optional>

class Terminal;

// One scan run from the command line through the Controller, as the window runs it, until its
// end: a sweep's arpScanDone and the device queries still open then, the time given to an mDNS
// browse, a failure, or an interrupt. Its rows are the Controller's: each device once, in address
// order.
class CommandLineScan : public QObject
{
    Q_OBJECT
public:
    enum class Outcome { Done, Failed, Interrupted };

    CommandLineScan(Controller *controller, Terminal *terminal);
    Outcome run(const QString &interfaceIp, Controller::ScanType scanType, int browseMs);
    QVector<DeviceRow> rows() const { return m_controller->deviceRows(); }
    // Why the scan failed, when it did.
    std::optional<Controller::ScanFailure> failure() const { return m_failure; }
    // What the Controller had to say on the window's info line, in order.
    QStringList notices() const { return m_notices; }

private:
    void onScanDone();
    void finish(Outcome outcome);
    void showProgress();

    Controller *const m_controller;
    Controller::ScanType m_scanType = Controller::ScanType::Arp;
    int m_browseMs = 0;
    bool m_waitingForQueries = false;
    bool m_finished = false;
    Outcome m_outcome = Outcome::Done;
    std::optional<Controller::ScanFailure> m_failure;
    QStringList m_notices;
    QEventLoop m_loop;
    QTimer m_progress;
    QElapsedTimer m_clock;
};

#endif // COMMANDLINESCAN_H
