// A simulated network video encoder for tests, benchmarks and the demo: its three HTTP
// endpoints with configurable answers and faults, the identify port, ARP tricks, and a device
// that leaves the LAN. simlan.sh starts one per device line and adds --ip, --iface and --dir
// (and --key, which names the files in --dir in place of the address, for a second device on an
// address).
//
//   --name TEXT [--name-length N]   name, cut from repeats of TEXT to N bytes when given
//   --fw TEXT, --mac TEXT           firmware and MAC bodies
//   --body EP=TEXT, --body-hex EP=HEX, --content-type EP=TYPE, --fault EP=FAULT
//       EP: mac, name, fw or all; FAULT: 404, text-plain, delay:MS, hang, endless, huge:BYTES,
//       drip (300 bytes or more, one a second), gzip-bomb (1 GiB of zeros, gzip-encoded),
//       endless-headers
//   --arp-delay MS, --arp-drop N    answer ARP for the own address late, or only after
//                                   ignoring the first N requests (simlan then turns the
//                                   kernel's ARP off on the device)
//   --arp-answer CIDR               answer ARP for every address of CIDR, too
//   --leave-after-requests N        take the LAN interface down once the Nth HTTP request is over
//   --announce N                    once listening, claim the address with N gratuitous ARP
//                                   requests two seconds apart, as a booting device does
//   --http-port, --identify-port    other ports than 80 and 1300

#include "arpresponder.h"
#include "httpresponder.h"
#include "identifylistener.h"
#include "simconfig.h"
#include "simlog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cstdio>
#include <cstring>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Takes the device's own LAN interface down, as when its cable is pulled: the scanner's neighbour
// entry for it then ages out as the kernel's ARP timing says.
bool takeInterfaceDown(const QString &name, QString *error)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *error = QString::fromLocal8Bit(strerror(errno));
        return false;
    }
    ifreq request {};
    std::strncpy(request.ifr_name, name.toLocal8Bit().constData(), IFNAMSIZ - 1);
    bool ok = ::ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    if (ok) {
        request.ifr_flags &= ~IFF_UP;
        ok = ::ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    }
    if (!ok) {
        *error = QString::fromLocal8Bit(strerror(errno));
    }
    ::close(fd);
    return ok;
}

} // namespace

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
                   : directory.filePath(QStringLiteral("sim-%1.log").arg(config.fileKey)));

    HttpResponder http(config, &log);
    if (!http.listen()) {
        log.write(QStringLiteral("cannot listen on HTTP port %1").arg(config.httpPort));
        return 1;
    }
    IdentifyListener identify(
        config.directory.isEmpty()
            ? QString()
            : directory.filePath(QStringLiteral("identify-%1.bin").arg(config.fileKey)),
        &log);
    if (!identify.listen(config.address, config.identifyPort)) {
        log.write(QStringLiteral("cannot listen on identify port %1").arg(config.identifyPort));
        return 1;
    }
    QObject::connect(&http, &HttpResponder::lastRequestDone, [&config, &log] {
        QString error;
        if (takeInterfaceDown(config.interfaceName, &error)) {
            log.write(QStringLiteral("left the LAN"));
        } else {
            log.write(QStringLiteral("cannot leave the LAN: %1").arg(error));
        }
    });
    ArpResponder arp(config, &log);
    if (config.needsPacketSocket()) {
        if (!arp.start(&error)) {
            log.write(QStringLiteral("ARP responder: %1").arg(error));
            return 1;
        }
    }
    log.write(QStringLiteral("listening on %1 mac %2")
                  .arg(ip, QString::fromLatin1(config.hardwareAddress.toHex(':'))));
    if (!config.directory.isEmpty()) {
        // simlan runs the scanner only once every simulator has written this.
        QFile ready(directory.filePath(QStringLiteral("ready-%1").arg(config.fileKey)));
        ready.open(QIODevice::WriteOnly);
    }
    arp.announce(config.announcements);
    return app.exec();
}
