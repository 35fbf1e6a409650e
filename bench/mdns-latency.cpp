// Time from startDiscover to the deviceMacFound report of one announced instance, measured in
// the thread that emits it. Prints one line per round: "lumisweep <ms>" or "lumisweep timeout".
#include "discovery/bonjourwinservice.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <atomic>
#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() < 2) {
        std::fprintf(stderr, "usage: mdns-latency INSTANCE [ROUNDS]\n");
        return 2;
    }
    const QString instance = arguments.at(1);
    const int rounds = arguments.size() > 2 ? arguments.at(2).toInt() : 1;
    // The service's own log lines would drown the figures.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});

    for (int round = 0; round < rounds; ++round) {
        BonjourWinService service(nullptr);
        QElapsedTimer timer;
        std::atomic<qint64> foundAfterNs { -1 };
        QEventLoop loop;
        QObject::connect(
            &service, &BonjourWinService::deviceMacFound, &service,
            [&](const QString &, const QString &, const QString &, const QString &name) {
                if (name == instance && foundAfterNs < 0) {
                    foundAfterNs = timer.nsecsElapsed();
                    QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
                }
            },
            Qt::DirectConnection);
        QTimer::singleShot(5000, &loop, &QEventLoop::quit);
        timer.start();
        service.startDiscover();
        loop.exec();
        QElapsedTimer stopTimer;
        stopTimer.start();
        service.stopDiscover();
        const qint64 stopMs = stopTimer.elapsed();
        if (foundAfterNs < 0) {
            std::printf("lumisweep timeout stop %lld\n", static_cast<long long>(stopMs));
        } else {
            std::printf("lumisweep %.1f stop %lld\n", foundAfterNs / 1e6,
                        static_cast<long long>(stopMs));
        }
        std::fflush(stdout);
    }
    return 0;
}
