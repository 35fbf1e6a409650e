#ifndef COMMANDLINEWATCH_H
#define COMMANDLINEWATCH_H

#include "controller/controller.h"
#include "controller/devicetablewriter.h"

#include <QEventLoop>
#include <QFile>
#include <QObject>
#include <QTimer>

#include <optional>

class Terminal;

// A watch run from the command line through the Controller, as the window runs it: each event
// written to standard output as one line, and flushed, as it happens, until Ctrl-C or SIGTERM,
// the time given, a reader that went away, or an end the watch comes to by itself. A slow reader
// holds the watch up rather than lose a line.
class CommandLineWatch : public QObject
{
    Q_OBJECT
public:
    enum class Outcome { Done, Failed, Interrupted };

    CommandLineWatch(Controller *controller, Terminal *terminal, DeviceTableWriter::Format format);
    // durationMs 0: until interrupted.
    Outcome run(const QString &interfaceIp, Controller::ScanType scanType, int durationMs);
    // Why it failed, for the user; empty when the first scan's failure says it.
    QString problem() const { return m_problem; }
    std::optional<Controller::ScanFailure> failure() const { return m_failure; }
    QStringList notices() const { return m_notices; }

private:
    void write(const QByteArray &text);
    void onEnded(Watch::End reason, const QString &message);
    // Ends the watch: the first reason stands.
    void finish(Outcome outcome, const QString &problem = QString());

    Controller *const m_controller;
    const DeviceTableWriter::Format m_format;
    QFile m_output;
    bool m_finished = false;
    bool m_ended = false;
    Outcome m_outcome = Outcome::Done;
    QString m_problem;
    std::optional<Controller::ScanFailure> m_failure;
    QStringList m_notices;
    QEventLoop m_loop;
    QTimer m_duration;
};

#endif // COMMANDLINEWATCH_H
