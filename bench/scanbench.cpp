// One scan through the real Controller, as the window starts it, on the simulated LAN: wall
// time from startDiscover to the last row that carries name and firmware, and to the end of the
// scan, with the rows counted.
//
//   scanbench INTERFACE_ADDRESS [1|2]

#include "controller/controller.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QQmlContext>
#include <QQmlEngine>
#include <QTemporaryDir>

#include <cstdio>
#include <sys/resource.h>

int main(int argc, char *argv[])
{
    QApplication::setApplicationName(QStringLiteral("Lumisweep"));
    QTemporaryDir home; // the settings of a benchmark run go nowhere lasting
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.path()));
    QApplication app(argc, argv);
    if (app.arguments().size() < 2) {
        fprintf(stderr, "usage: scanbench INTERFACE_ADDRESS [1|2]\n");
        return 2;
    }
    const QString address = app.arguments().at(1);
    const int scanType = app.arguments().value(2, QStringLiteral("1")).toInt();

    QQmlEngine engine;
    auto *controller = new Controller(engine.rootContext());
    QElapsedTimer clock;
    int rows = 0;
    int completeRows = 0;
    qint64 lastCompleteMs = -1;
    QObject::connect(controller, &Controller::deviceFound, &app,
                     [&](QString, QString, QString fw, QString name) {
                         ++rows;
                         if (!fw.isEmpty() && !name.isEmpty()) {
                             ++completeRows;
                             lastCompleteMs = clock.elapsed();
                         }
                     });
    QObject::connect(controller, &Controller::arpScanDone, &app, [&] {
        rusage usage {};
        getrusage(RUSAGE_SELF, &usage);
        printf("last_complete_row_s=%.3f done_s=%.3f rows=%d complete_rows=%d peak_rss_mb=%.1f\n",
               lastCompleteMs / 1000.0, clock.elapsed() / 1000.0, rows, completeRows,
               usage.ru_maxrss / 1024.0);
        app.quit();
    });
    clock.start();
    controller->startDiscover(address, scanType);
    const int result = app.exec();
    controller->shutdown();
    return result;
}
