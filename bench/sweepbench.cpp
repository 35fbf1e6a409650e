// Runs one sweep of the real discovery service over a subnet of the simulated LAN and prints
// one line of figures: wall time from start to the end report, hosts found, peak RSS.
//
//   sweepbench arp|http|stop NETWORK/PREFIX
//   sweepbench helper NETWORK/PREFIX INTERFACE SOURCE HELPER   ARP through lumisweep-arp

#include "discovery/bonjourwinservice.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QSet>
#include <QTimer>

#include <cstdio>
#include <sys/resource.h>

namespace {

QVector<quint32> hostsOf(const QString &cidr)
{
    const QPair<QHostAddress, int> subnet = QHostAddress::parseSubnet(cidr);
    const quint32 size = subnet.second >= 31 ? 0 : (quint32(1) << (32 - subnet.second));
    const quint32 first = subnet.first.toIPv4Address();
    QVector<quint32> hosts;
    for (quint32 i = 1; i + 1 < size; ++i) {
        hosts.append(first + i);
    }
    return hosts;
}

long peakRssKiB()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    const bool helper = arguments.value(1) == QLatin1String("helper");
    if (arguments.size() != (helper ? 6 : 3)) {
        fprintf(stderr,
                "usage: sweepbench arp|http|stop NETWORK/PREFIX\n"
                "       sweepbench helper NETWORK/PREFIX INTERFACE SOURCE HELPER\n");
        return 2;
    }
    const QString mode = arguments.at(1);
    const QVector<quint32> hosts = hostsOf(arguments.at(2));
    BonjourWinService service(nullptr);
    QSet<QString> found;
    qint64 lastFoundMs = 0;
    int doneCount = 0;
    QElapsedTimer clock;
    QObject::connect(&service, &BonjourWinService::deviceMacFound, &app, [&](const QString &ip) {
        found.insert(ip);
        if (qEnvironmentVariableIsSet("SWEEPBENCH_LIST")) {
            fprintf(stderr, "found %s %lld\n", qPrintable(ip), clock.elapsed());
        }
        lastFoundMs = clock.elapsed();
    });
    QObject::connect(&service, &BonjourWinService::arpScanDone, &app, [&] {
        ++doneCount;
        QTimer::singleShot(200, &app, &QCoreApplication::quit);
    });
    qint64 doneMs = -1;
    QObject::connect(&service, &BonjourWinService::arpScanDone, &app, [&] {
        if (doneMs < 0) {
            doneMs = clock.elapsed();
        }
    });

    clock.start();
    if (mode == QLatin1String("stop")) {
        service.startArpScan(hosts, false);
        // Let every worker get into its ARP wait before asking them to stop.
        QTimer::singleShot(300, &app, [&] {
            QElapsedTimer stopClock;
            stopClock.start();
            service.stopArpScan();
            printf("stop addresses=%d workers_busy=%d stop_ms=%lld done_signals=%d\n", hosts.size(),
                   int(qMin(hosts.size(), BonjourWinService::kMaxSweepThreads)),
                   stopClock.elapsed(), doneCount);
        });
    } else if (helper) {
        SweepOrigin origin;
        origin.interfaceName = arguments.at(3);
        origin.source = QHostAddress(arguments.at(4)).toIPv4Address();
        service.setArpHelper(true, arguments.at(5));
        QObject::connect(&service, &BonjourWinService::arpScanDone, &app, [&] {
            // Which engine ran: the kernel's path when the helper could not.
            if (!service.arpHelperRan()) {
                fprintf(stderr, "sweepbench: the ARP helper did not run\n");
            }
        });
        service.startArpScan(hosts, false, origin);
    } else {
        service.startArpScan(hosts, mode == QLatin1String("http"));
    }
    app.exec();
    if (mode != QLatin1String("stop")) {
        printf("%s addresses=%d seconds=%.3f found=%d last_found_ms=%lld done_signals=%d "
               "remaining=%d peak_rss_mb=%.1f\n",
               qPrintable(mode), hosts.size(), doneMs / 1000.0, found.size(), lastFoundMs,
               doneCount, service.remainingCount(), peakRssKiB() / 1024.0);
    }
    service.shutdown();
    return 0;
}
