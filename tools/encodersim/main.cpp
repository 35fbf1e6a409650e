// A simulated network video encoder for tests, benchmarks and the demo: its three HTTP
// endpoints with configurable answers and faults, the identify port, and ARP tricks.

#include "arpresponder.h"
#include "httpresponder.h"
#include "identifylistener.h"
#include "simconfig.h"
#include "simlog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    SimConfig config;
    QString error;
    if (!config.parse(app.arguments(), &error)) {
        fprintf(stderr, "encodersim: %s\n", qPrintable(error));
        return 2;
    }
    const QString ip = config.address.toString();
    const QDir directory(config.directory);
    SimLog log(config.directory.isEmpty()
                   ? QString()
                   : directory.filePath(QStringLiteral("sim-%1.log").arg(ip)));

    HttpResponder http(config, &log);
    if (!http.listen()) {
        log.write(QStringLiteral("cannot listen on HTTP port %1").arg(config.httpPort));
        return 1;
    }
    IdentifyListener identify(config.directory.isEmpty()
                                  ? QString()
                                  : directory.filePath(QStringLiteral("identify-%1.bin").arg(ip)),
                              &log);
    if (!identify.listen(config.address, config.identifyPort)) {
        log.write(QStringLiteral("cannot listen on identify port %1").arg(config.identifyPort));
        return 1;
    }
    ArpResponder arp(config, &log);
    if (config.arpDelayMs >= 0 || config.arpAnswerMask != 0) {
        if (!arp.start(&error)) {
            log.write(QStringLiteral("ARP responder: %1").arg(error));
            return 1;
        }
    }
    log.write(QStringLiteral("listening on %1 mac %2")
                  .arg(ip, QString::fromLatin1(config.hardwareAddress.toHex(':'))));
    if (!config.directory.isEmpty()) {
        // simlan runs the scanner only once every simulator has written this.
        QFile ready(directory.filePath(QStringLiteral("ready-%1").arg(ip)));
        ready.open(QIODevice::WriteOnly);
    }
    return app.exec();
}
