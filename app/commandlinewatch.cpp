#include "commandlinewatch.h"

#include "controller/terminal.h"

#include <QDateTime>

#include <cstdio>

CommandLineWatch::CommandLineWatch(Controller *controller, Terminal *terminal,
                                   DeviceTableWriter::Format format)
    : m_controller(controller), m_format(format)
{
    m_output.open(stdout, QIODevice::WriteOnly);
    connect(controller, &Controller::watchEventOccurred, this,
            [this](Watch::Event event, const DeviceRow &row, const QString &detail) {
                // The end is written with its reason, from watchEnded.
                if (event != Watch::Event::End) {
                    DeviceTableWriter::EventLine line;
                    line.time = QDateTime::currentDateTimeUtc();
                    line.event = event;
                    line.row = row;
                    line.interfaceName = detail;
                    write(DeviceTableWriter::eventLine(m_format, line));
                }
            });
    connect(controller, &Controller::watchEnded, this, &CommandLineWatch::onEnded);
    connect(controller, &Controller::scanFailed, this,
            [this](Controller::ScanFailure reason) { m_failure = reason; });
    connect(controller, &Controller::infoMessage, this,
            [this](const QString &message) { m_notices << message; });
    connect(terminal, &Terminal::interrupted, this, [this] { finish(Outcome::Interrupted); });
    connect(terminal, &Terminal::outputGone, this, [this] {
        finish(Outcome::Failed, QStringLiteral("the reader of the output went away"));
    });
    terminal->followOutput();
    m_duration.setSingleShot(true);
    connect(&m_duration, &QTimer::timeout, this, [this] { finish(Outcome::Done); });
}

CommandLineWatch::Outcome CommandLineWatch::run(const QString &interfaceIp,
                                                Controller::ScanType scanType, int durationMs)
{
    write(DeviceTableWriter::eventHeader(m_format));
    if (durationMs > 0) {
        m_duration.start(durationMs);
    }
    m_controller->startWatch(interfaceIp, int(scanType));
    // A watch that ended already (its first scan could not run) must not be waited for.
    if (!m_ended && !m_finished) {
        m_loop.exec();
    }
    m_controller->stopWatch();
    return m_outcome;
}

void CommandLineWatch::write(const QByteArray &text)
{
    if (text.isEmpty() || m_problem.size() > 0) {
        return;
    }
    // Flushed line by line: a script reading a pipe gets each event as it happens.
    if (m_output.write(text) != text.size() || !m_output.flush()) {
        finish(Outcome::Failed,
               QStringLiteral("cannot write the output: %1").arg(m_output.errorString()));
    }
}

void CommandLineWatch::onEnded(Watch::End reason, const QString &message)
{
    DeviceTableWriter::EventLine line;
    line.time = QDateTime::currentDateTimeUtc();
    line.event = Watch::Event::End;
    line.end = reason;
    line.message = message;
    write(DeviceTableWriter::eventLine(m_format, line));
    m_ended = true;
    if (reason != Watch::End::Stopped) {
        finish(Outcome::Failed, reason == Watch::End::Failed ? QString() : message);
    }
}

void CommandLineWatch::finish(Outcome outcome, const QString &problem)
{
    if (!m_finished) {
        m_finished = true;
        m_outcome = outcome;
        m_problem = problem;
    }
    // The watch is stopped once the loop has returned: this may run inside one of its own
    // signals, and a stop takes it away.
    m_loop.quit();
}
