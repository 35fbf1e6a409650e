// Time from startDiscover to the latest deviceMacFound report of an instance whose name starts
// with PREFIX, measured in the thread that emits it; a round ends with the COUNT-th such instance
// or after WAIT_MS. One line per round: "lumisweep <ms>|timeout stop <ms> found <n>".
#include "discovery/bonjourwinservice.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() < 2) {
        std::fprintf(stderr, "usage: mdns-latency PREFIX [ROUNDS [COUNT [WAIT_MS]]]\n");
        return 2;
    }
    // The service's own log lines would drown the figures.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    for (int round = 0; round < arguments.value(2, "1").toInt(); ++round) {
        BonjourWinService service(nullptr);
        QElapsedTimer timer;
        QStringList found; // in the browse thread until the stop has ended it
        qint64 lastNs = 0;
        QEventLoop loop;
        QObject::connect(
            &service, &BonjourWinService::deviceMacFound, &service,
            [&](const QString &, const QString &, const QString &, const QString &name) {
                if (name.startsWith(arguments.at(1)) && !found.contains(name)) {
                    found << name;
                    lastNs = timer.nsecsElapsed();
                    if (found.size() == arguments.value(3, "1").toInt()) {
                        QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
                    }
                }
            },
            Qt::DirectConnection);
        QTimer::singleShot(arguments.value(4, "5000").toInt(), &loop, &QEventLoop::quit);
        timer.start();
        service.startDiscover();
        loop.exec();
        QElapsedTimer stopTimer;
        stopTimer.start();
        service.stopDiscover();
        const qint64 stopMs = stopTimer.elapsed();
        std::printf("lumisweep %s stop %lld found %d\n",
                    found.isEmpty() ? "timeout" : qPrintable(QString::number(lastNs / 1e6, 'f', 1)),
                    static_cast<long long>(stopMs), int(found.size()));
        std::fflush(stdout);
    }
    return 0;
}
