#ifndef COMMANDLINESCAN_H
#define COMMANDLINESCAN_H

#include "controller/devicerecordassembler.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QMap>
#include <QObject>
#include <QTimer>

class Console;
class ConsolePrompts;
class Controller;

// One scan run from the command line through the Controller, as the window runs it, until its
// end: a sweep's arpScanDone (and the device queries still open then), or the time given to an
// mDNS browse. Collects each device once, in address order.
class CommandLineScan : public QObject
{
    Q_OBJECT
public:
    enum class Outcome { Done, Failed, Interrupted };

    CommandLineScan(Controller *controller, ConsolePrompts *prompts, Console *console);
    Outcome run(const QString &interfaceIp, int scanType, int browseMs);
    QVector<DeviceRow> rows() const { return m_rows.values().toVector(); }

private:
    void onDeviceFound(const QString &ip, const QString &mac, const QString &fw,
                       const QString &name);
    void onScanDone();
    void onInfoMessage(const QString &message);
    void finish(Outcome outcome);
    void showProgress();

    Controller *const m_controller;
    ConsolePrompts *const m_prompts;
    Console *const m_console;
    int m_scanType = 1;
    int m_browseMs = 0;
    bool m_waitingForQueries = false;
    Outcome m_outcome = Outcome::Done;
    QMap<quint64, DeviceRow> m_rows;
    QEventLoop m_loop;
    QTimer m_progress;
    QElapsedTimer m_clock;
};

#endif // COMMANDLINESCAN_H
