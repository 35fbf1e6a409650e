// One scan through the real Controller, as the window starts it, on the simulated LAN: wall
// time from startDiscover to the last row that carries name and firmware and to the end of the
// scan, the rows counted, peak memory, and the longest stall of the GUI thread's event loop.
//
//   scanbench INTERFACE_ADDRESS [1|2 [STOP_AFTER_MS]]
//
// With STOP_AFTER_MS the scan is stopped then (for the start of a wide sweep, where the figure
// of interest is how long the window froze while the sweep started). SCANBENCH_ARP_HELPER names
// the ARP helper to run the scan through (the window looks next to the program, which bench/ is
// not); without it the scan takes the kernel's path.

#include "controller/controller.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QQmlContext>
#include <QQmlEngine>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <sys/resource.h>

int main(int argc, char *argv[])
{
    QApplication::setApplicationName(QStringLiteral("Lumisweep"));
    QTemporaryDir home; // the settings of a benchmark run go nowhere lasting
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.path()));
    QApplication app(argc, argv);
    if (app.arguments().size() < 2) {
        fprintf(stderr, "usage: scanbench INTERFACE_ADDRESS [1|2 [STOP_AFTER_MS]]\n");
        return 2;
    }
    const QString address = app.arguments().at(1);
    const int scanType = app.arguments().value(2, QStringLiteral("1")).toInt();
    const int stopAfterMs = app.arguments().value(3, QStringLiteral("0")).toInt();

    QQmlEngine engine;
    auto *controller = new Controller(engine.rootContext());
    if (qEnvironmentVariableIsSet("SCANBENCH_ARP_HELPER")) {
        controller->setArpHelper(true, qEnvironmentVariable("SCANBENCH_ARP_HELPER"));
    }
    QElapsedTimer clock;
    int rows = 0;
    int completeRows = 0;
    qint64 lastCompleteMs = -1;
    qint64 doneMs = -1;
    // The GUI thread's heartbeat: the longest gap between two 5 ms ticks is the longest time the
    // window could not have repainted or reacted.
    qint64 lastBeat = 0;
    qint64 longestStallMs = 0;
    QTimer heartbeat;
    heartbeat.setTimerType(Qt::PreciseTimer);
    QObject::connect(&heartbeat, &QTimer::timeout, &app, [&] {
        longestStallMs = qMax(longestStallMs, clock.elapsed() - lastBeat);
        lastBeat = clock.elapsed();
    });
    QObject::connect(controller, &Controller::deviceFound, &app,
                     [&](QString, QString, QString fw, QString name) {
                         ++rows;
                         if (!fw.isEmpty() && !name.isEmpty()) {
                             ++completeRows;
                             lastCompleteMs = clock.elapsed();
                         }
                     });
    auto finish = [&] {
        rusage usage {};
        getrusage(RUSAGE_SELF, &usage);
        printf("last_complete_row_s=%.3f done_s=%.3f rows=%d complete_rows=%d peak_rss_mb=%.1f "
               "longest_stall_ms=%lld\n",
               lastCompleteMs / 1000.0, doneMs / 1000.0, rows, completeRows,
               usage.ru_maxrss / 1024.0, longestStallMs);
        app.quit();
    };
    QObject::connect(controller, &Controller::arpScanDone, &app, [&] {
        doneMs = clock.elapsed();
        if (stopAfterMs == 0) {
            // Names and firmware may still be on their way; each query is bounded.
            if (controller->pendingDeviceQueries() == 0) {
                finish();
            }
        }
    });
    QObject::connect(controller, &Controller::deviceQueriesSettled, &app, [&] {
        if (doneMs >= 0 && stopAfterMs == 0) {
            finish();
        }
    });
    if (stopAfterMs > 0) {
        QTimer::singleShot(stopAfterMs, &app, [&] {
            // The stop's own wait for the workers is a figure of its own (stop_ms).
            const qint64 stallBeforeStop = longestStallMs;
            QElapsedTimer stop;
            stop.start();
            controller->stopDiscover(scanType);
            printf("stop_ms=%lld ", stop.elapsed());
            longestStallMs = stallBeforeStop;
            finish();
        });
    }
    clock.start();
    heartbeat.start(5);
    controller->startDiscover(address, scanType);
    const int result = app.exec();
    controller->shutdown();
    return result;
}
