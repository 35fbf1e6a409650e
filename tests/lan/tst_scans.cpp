// The real Controller with its real discovery service in the simulated LAN, one scan type after
// the other, each compared with the whole table the user ends up with; then how scans stop, the
// identify command, the command line, and what the interface inventory sees.
#include "tests/common/testkit.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QThread>

#include <csignal>

namespace {
// Recorded rows ("row|ip|mac|fw|name") as the command line's JSON gives them.
QJsonArray jsonRows(const QStringList &rows)
{
    QJsonArray array;
    for (const QString &line : rows) {
        const QStringList f = line.split('|');
        QJsonObject row { { "ip", f[1] }, { "mac", f[2] }, { "firmware", f[3] }, { "name", f[4] } };
        for (const QString &flag : f.mid(5)) {
            row.insert(flag, true);
        }
        array.append(row);
    }
    return array;
}

const QString kCam10 = row(10, "02-06-00-00-00-10", "1.0.10", "Cam 10");
const QString kLobby = row(11, "D0-C8-00-00-00-11", "2.1\r", "Lobby Encoder");
const QString kNoName = row(12, "08-EA-40-00-00-12", "3.0", "");
const QString kTextPlain = row(13, "0C-8C-24-00-00-13", "", "");
const QString kUtf8 = row(14, "02-06-00-00-00-14", "4.0", QString::fromUtf8("Café ★ Nord"));
const QString kHangs = row(15, "D0-C8-00-00-00-15", "", "");
const QString kLate = row(16, "D0-C8-00-00-00-16", "5.0", "Late");
const QString kDeaf = row(17, "0C-8C-24-00-00-17", "5.1", "Deaf once");
const QString kLeaver = row(18, "02-06-00-00-00-18", "6.0", "Leaver");
const QString kQuoted = row(19, "08-EA-40-00-00-19", "7.0", "Say \"hi\",\r\tok");
const QString kSlow = row(20, "02-06-00-00-00-20", "8.0", "Slow server");
const QStringList kMdns { row(10, "02-06-00-00-00-10", "", ""),
                          row(14, "08-EA-40-00-00-14", QString::fromUtf8("3.2-Über"),
                              QString::fromUtf8("Studio C.2 ★")) };
const QStringList kArp { kCam10, kLobby, kNoName, kTextPlain, kUtf8,
                         kHangs, kLate,  kDeaf,   kQuoted,    kSlow };
const QStringList kHttp { kCam10, kLobby, kNoName, kUtf8, kLate, kDeaf, kQuoted, kSlow };
} // namespace

class TestScans : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { REQUIRE_LAN(); }
    void sweeps_data();
    void sweeps();
    void mdnsScan();
    void stopping_data();
    void stopping();
    void identify_data();
    void identify();
    void commandLine_data();
    void commandLine();
    // In the LAN of the ARP helper (engine.topology), as root or as a user the helper's
    // capability serves:
    void helperEngine_data();
    void helperEngine() { commandLine(); }
    // In the LAN of several adapters (interfaces.topology):
    void inventory();
    void sweepsEndWithTheirInterface();
};

void TestScans::sweeps_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QStringList>("table");
    // Both late devices are found; the leaver answers its two queries, then leaves the LAN.
    QTest::newRow("arp") << 1 << (QStringList(kArp) << kLeaver);
    // Its neighbour entry still names its MAC, but it no longer answers: no row.
    QTest::newRow("arp, 2 s after the leaver left") << 1 << kArp;
    // Only accepted /public/macAddress replies count: not the text/plain or silent devices.
    // The slow ARP answerers are reached through the neighbour entries the ARP scans left.
    QTest::newRow("http probe") << 2 << kHttp;
}

void TestScans::sweeps()
{
    QFETCH(int, type);
    QFETCH(QStringList, table);
    if (QTest::currentDataTag() == QLatin1String("arp, 2 s after the leaver left")) {
        QTest::qWait(2000);
    }
    ControllerFixture ctrl;
    LogCapture log;
    QCOMPARE(ctrl->getArpProgress(), 0);
    ctrl->startDiscover(Lan::scannerIp(), type);
    QTRY_COMPARE_WITH_TIMEOUT(ctrl.scan.count("done"), 1, 60000);
    QCOMPARE(ctrl->getArpProgress(), 100);
    QTRY_COMPARE_WITH_TIMEOUT(ctrl->pendingDeviceQueries(), 0, 30000);
    table.sort();
    QCOMPARE(ctrl.scan.table(), table);
    // What is still incomplete at the end is listed then, in address text order. The hanging
    // device may have timed out before the end on a slow machine; the text/plain one never fills.
    QStringList atEnd;
    for (const QString &line : log.lines().filter("onArpScanDone: ")) {
        atEnd << line.section(' ', 1).section(';', 0, 0);
    }
    QStringList sorted = atEnd;
    sorted.sort();
    QCOMPARE(atEnd, sorted);
    QCOMPARE(atEnd.contains("198.18.0.13"), type == 1);
    QCOMPARE(ctrl.scan.count("done"), 1);
}

void TestScans::mdnsScan()
{
    ControllerFixture ctrl;
    ctrl->startDiscover(Lan::scannerIp(), 3);
    // One row per address, whichever instance resolves first; firmware and names holding NULL
    // are emptied; the other maker's host is not listed; the MAC is cut to 17 characters; the
    // name is as the user gave it. The LAN's DNS server never answers, and holds up whatever asks
    // it: the addresses must come from the mDNS daemon.
    QTRY_COMPARE_WITH_TIMEOUT(ctrl.scan.table(), kMdns, 15000);
    QTest::qWait(1000); // instances resolved again must not add rows
    QCOMPARE(ctrl.scan.lines.size(), kMdns.size());

    // A device moves to another address during the browse: its row moves with it.
    ctrl.scan.watch(ctrl.get(), &Controller::deviceRemoved, "gone");
    QProcess service, address;
    service.start(
        "avahi-publish",
        { "-s", "-H", "mover.local", "Mover", "_encoder._tcp", "80", "MAC=0c:8c:24:00:00:60" });
    address.start("avahi-publish", { "-a", "-R", "mover.local", "198.18.0.60" });
    QTRY_COMPARE_WITH_TIMEOUT(ctrl.scan.lines.size(), kMdns.size() + 1, 15000);
    address.terminate();
    QVERIFY(address.waitForFinished());
    address.start("avahi-publish", { "-a", "-R", "mover.local", "198.18.0.61" });
    QTRY_COMPARE_WITH_TIMEOUT(ctrl.scan.lines.mid(kMdns.size()),
                              (QStringList { row(60, "0C-8C-24-00-00-60", "", "Mover"),
                                             "gone|198.18.0.60|0C-8C-24-00-00-60",
                                             row(61, "0C-8C-24-00-00-60", "", "Mover") }),
                              15000);

    // The instance without an address record has no row; it is counted, and the command line
    // says so, also when the browse ends before its resolve has given up.
    ctrl->stopDiscover(3);
    QCOMPARE(ctrl->getUnresolvedCount(), 1);
    QProcess program;
    program.start(QCoreApplication::applicationDirPath() + "/../lumisweep",
                  { "--scan", "mdns", "--wait", "1", "--format", "csv" });
    QVERIFY(program.waitForFinished(60000));
    QCOMPARE(program.readAllStandardError(),
             QByteArray("lumisweep: 1 announced instance gave no address\n"));
}

void TestScans::stopping_data()
{
    // Where the stop comes | the scan type. The sweep ends inside stopDiscover: incomplete rows,
    // then the end, once. Before the delayed start, the start is cancelled and nothing follows.
    // "end": the workers have ended the sweep, and its report still waits in the event queue.
    rows({ { "mid-sweep, the slow server's answers on their way", "198.18.0.20 | 1" },
           { "before the sweep starts", " | 1" },
           { "after the sweep's own end, not yet reported", "end | 2" } });
}

void TestScans::stopping()
{
    QFETCH(QStringList, f);
    ControllerFixture ctrl;
    LogCapture log;
    ctrl->startDiscover(Lan::scannerIp(), f[1].toInt());
    if (f[0] == "end") {
        QTRY_VERIFY_WITH_TIMEOUT(ctrl->getArpProgress() > 0, 20000);
        // No events from here on: the end the last worker reports stays queued.
        while (ctrl->getArpProgress() < 100) {
            QThread::msleep(10);
        }
        QThread::msleep(200); // the last worker reports after counting its address
    } else {
        const QString found = "1. onDeviceMacFound: \"" + f[0] + '"';
        QTRY_VERIFY_WITH_TIMEOUT(f[0].isEmpty() || !log.lines().filter(found).isEmpty(), 20000);
    }
    const int before = ctrl.scan.lines.size();
    QCOMPARE(ctrl.scan.count("done"), 0);
    ctrl->stopDiscover(f[1].toInt());
    const QStringList duringStop = ctrl.scan.lines.mid(before);
    QVERIFY(!duringStop.isEmpty() && duringStop.last() == "done");
    QCOMPARE(duringStop.filter(QRegularExpression("\\|\\|$")).size(), duringStop.size() - 1);
    if (f[0].isEmpty()) {
        QTest::qWait(1500);
        QCOMPARE(ctrl.scan.lines, duringStop);
        return;
    }
    // The answers already on their way still complete their devices; no device is new.
    QTRY_COMPARE_WITH_TIMEOUT(ctrl->pendingDeviceQueries(), 0, 30000);
    QVERIFY(ctrl.scan.table().contains(kSlow));
    for (const QString &line : ctrl.scan.lines.mid(before + duringStop.size())) {
        QVERIFY2(line.startsWith("row|") && duringStop.contains(line.section('|', 0, 2) + "||"),
                 qPrintable(line));
    }
}

void TestScans::identify_data()
{
    rows({ { "listening encoder", "198.18.0.10 | c0cmdset_identify-led" },
           { "refused", "198.18.0.50 | " },
           { "empty", " | " },
           { "address with a path", "198.18.0.10/x | " } });
}

void TestScans::identify()
{
    QFETCH(QStringList, f);
    ControllerFixture ctrl;
    const QByteArray before = Lan::file("identify-198.18.0.10.bin");
    QCOMPARE(ctrl->indicateDevice(f[0]), !f[1].isEmpty());
    // The device got exactly the command's bytes, then saw the connection close.
    QTRY_COMPARE(Lan::file("identify-198.18.0.10.bin").mid(before.size()), f[1].toLatin1());
    QTRY_VERIFY(f[1].isEmpty()
                || Lan::file("sim-198.18.0.10.log")
                       .contains("identify close from 198.18.0.1 after 21 bytes"));
}

void TestScans::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("rows"); // null: any rows, as long as the output parses
    QTest::addColumn<QString>("interrupt"); // "SIGNAL@log text": sent once the text is logged
    QTest::addColumn<QString>("says"); // what standard error holds, if anything in particular
    const QString from = Lan::scannerIp();
    const auto add = [](const char *name, const QStringList &arguments, int exitCode,
                        const QStringList &rows = {}, const QString &interrupt = {},
                        const QString &says = {}) {
        QTest::newRow(name) << arguments << exitCode << rows << interrupt << says;
    };
    const QStringList json { "--format", "json", "--verbose" };
    // The verbose log shows each value as the row reads it: UTF-8 as UTF-8, quoted.
    add("arp", QStringList { "--scan", "arp", "--interface", from } + json, 0, kArp, {},
        QString::fromUtf8("Data: \"Café ★ Nord\""));
    add("http", QStringList { "--scan", "http", "--interface", "lan0" } + json, 0, kHttp);
    add("mdns", QStringList { "--scan", "mdns", "--wait", "2" } + json, 0, kMdns, {},
        QString::fromUtf8(",\"3.2-Über\","));
    // Interrupted at every moment of a scan: 130, and whatever was found as well-formed output.
    const struct
    {
        const char *name;
        const char *scan;
        const char *interrupt;
    } interrupts[] = {
        { "arp, Ctrl-C before the sweep", "arp", "INT@Version Number" },
        { "arp, Ctrl-C mid-sweep", "arp", "INT@startArpScan" },
        { "arp, SIGTERM mid-sweep", "arp", "TERM@startArpScan" },
        { "arp, Ctrl-C with queries pending", "arp", "INT@Done Arp Scan" },
        { "http, SIGTERM before the sweep", "http", "TERM@Version Number" },
        { "http, Ctrl-C mid-sweep", "http", "INT@startArpScan" },
        { "http, SIGTERM with queries pending", "http", "TERM@onDeviceMacFound: \"198.18.0.20\"" },
        { "mdns, Ctrl-C before the browse", "mdns", "INT@Version Number" },
        { "mdns, SIGTERM while browsing", "mdns", "TERM@successfully to run DNSServiceBrowse" },
    };
    for (const auto &row : interrupts) {
        // Long enough for the interrupt to come first.
        const QStringList wait
            = row.scan == QLatin1String("mdns") ? QStringList { "--wait", "60" } : QStringList();
        add(row.name, QStringList { "--scan", row.scan } + wait + json, 130, QStringList(),
            row.interrupt);
    }
    add("output that cannot be written",
        QStringList { "--scan", "arp", "--interface", from, "--format", "json", ">/dev/full" }, 1);
    // As on a machine without the library: every file the loader could find is /dev/null.
    add("no DNS-SD library",
        { "unshare", "--mount", "sh", "-c",
          "for f in $(ldconfig -p | "
          "awk '/libdns_sd/{print $NF}'); do mount --bind /dev/null $(readlink -f $f); done; "
          "exec \"$0\" --scan mdns" },
        1);
    add("unknown scan", { "--scan", "ping" }, 2);
    add("malformed interface", { "--scan", "arp", "--interface", "198.18.0.300" }, 2);
    // A scan that cannot run still writes its (empty) table: an empty JSON array here.
    add("unavailable interface",
        { "--scan", "arp", "--interface", "198.18.0.99", "--format", "json" }, 1, {}, {},
        "lumisweep: no interface has the address 198.18.0.99\n");
    add("unknown interface name", { "--scan", "arp", "--interface", "eth9", "--format", "json" }, 1,
        {}, {}, "lumisweep: no interface named 'eth9' has an IPv4 address\n");
    // The kernel refuses the range: a route of type unreachable, for this row only.
    add("routed range without a route",
        { "sh", "-c",
          "ip route add unreachable 192.0.2.0/24 || exit 9; "
          "\"$0\" --scan http --range 192.0.2.0/24 --format json; status=$?; "
          "ip route del unreachable 192.0.2.0/24; exit $status" },
        1, {}, {}, "lumisweep: no route to 192.0.2.0/24\n");
    add("identify taken", { "--identify", "198.18.0.10" }, 0);
    add("identify refused", { "--identify", "198.18.0.50" }, 1, {}, {},
        "lumisweep: Identify device: 198.18.0.50 failed\n");
}

void TestScans::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QStringList, rows);
    QFETCH(QString, interrupt);
    QFETCH(QString, says);
    if (QTest::currentDataTag() == QLatin1String("rescan, 2 s later")) {
        QTest::qWait(2000); // the leaver's entry goes STALE, as minutes would on a real LAN
    }
    QProcess program;
    const QString lumisweep = QCoreApplication::applicationDirPath() + "/../lumisweep";
    const bool toFile = arguments.last().startsWith('>');
    if (toFile) {
        program.setStandardOutputFile(arguments.takeLast().mid(1));
    }
    if (arguments.first().startsWith("--")) {
        program.start(lumisweep, arguments);
    } else {
        program.start(arguments.first(), arguments.mid(1) << lumisweep);
    }
    QVERIFY(program.waitForStarted());
    QByteArray log;
    if (!interrupt.isEmpty()) {
        // The debug log says where the scan is; the signal goes once it has got there.
        const QByteArray moment = interrupt.section('@', 1).toUtf8();
        QTRY_VERIFY_WITH_TIMEOUT((log += program.readAllStandardError()).contains(moment), 30000);
        ::kill(program.processId(), interrupt.startsWith("INT") ? SIGINT : SIGTERM);
    }
    QVERIFY(program.waitForFinished(60000));
    log += program.readAllStandardError();
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), exitCode);
    QVERIFY2(exitCode == 0 || exitCode == 130 || !log.isEmpty(), "it says why");
    // A message is its own line; a piece of the log need not be.
    const QByteArray expected = says.toUtf8();
    QVERIFY2(('\n' + log).contains(expected.endsWith('\n') ? '\n' + expected : expected),
             log.constData());
    const QByteArray output = program.readAllStandardOutput();
    // Whatever happened, short of a usage error, a JSON array: of the rows found, maybe none.
    if (exitCode != 2 && !toFile && arguments.join(' ').contains("--format json")) {
        QJsonParseError error;
        QVERIFY2(QJsonDocument::fromJson(output, &error).isArray(),
                 qPrintable(error.errorString()));
    }
    if (!interrupt.isEmpty()) {
        return;
    }
    QCOMPARE(QJsonDocument::fromJson(output).array(), jsonRows(rows));
}

void TestScans::helperEngine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<QString>("interrupt");
    QTest::addColumn<QString>("says");
    const QStringList arp { "--scan", "arp", "--format", "json" };
    const QString twinA = row(40, "02-06-00-00-00-40", "", "") + "|conflict";
    const QString twinB = row(40, "D0-C8-00-00-00-41", "", "") + "|conflict";
    const QString firewalled = row(60, "0C-8C-24-00-00-60", "", "");
    const QStringList found { row(10, "02-06-00-00-00-10", "1.0", "Cam 10"),
                              row(16, "D0-C8-00-00-00-16", "5.0", "Late"),
                              row(17, "0C-8C-24-00-00-17", "5.1", "Deaf once"),
                              row(18, "02-06-00-00-00-18", "6.0", "Leaver"),
                              twinA,
                              twinB,
                              firewalled };
    // Two devices on one address are two rows, neither with the other's answers; the late and
    // the once-deaf device are found; the firewalled one answers ARP only.
    QTest::newRow("sweep") << arp << 0 << found << QString() << QString();
    // The leaver is gone; the firewalled device, cached by now, is listed all the same.
    QStringList rescan = found;
    rescan.removeAt(3);
    QTest::newRow("rescan, 2 s later") << arp << 0 << rescan << QString() << QString();
    // Another subnet on the link: found, but with no route to ask it anything.
    QTest::newRow("another subnet's range")
        << (QStringList(arp) << "--range"
                             << "10.77.0.0/24")
        << 0 << QStringList { "row|10.77.0.5|08-EA-40-00-07-05||" } << QString() << QString();
}

void TestScans::inventory()
{
    if (!QFile::exists("/sys/class/net/ethA")) {
        QSKIP("needs interfaces.topology");
    }
    ControllerFixture ctrl;
    // Text order; a shared address once; a down adapter and 127.0.0.2 included, 127.0.0.1 not.
    QCOMPARE(
        ctrl->getNetworkList(),
        (QStringList { "10.0.0.5", "10.98.0.1", "10.99.0.1", "127.0.0.2", "169.254.7.7",
                       "172.16.0.1", "192.168.1.10", "192.168.1.9", "198.18.0.1", "198.19.7.1" }));
    QVERIFY(ctrl->isInterfaceAvailable("192.168.1.9"));
    QCOMPARE(QProcess::execute("ip", { "addr", "del", "192.168.1.9/24", "dev", "ethB" }), 0);
    QVERIFY(!ctrl->isInterfaceAvailable("192.168.1.9"));
    QCOMPARE(ctrl.scan.lines, QStringList { "info|The interface is not available!" });
}

void TestScans::sweepsEndWithTheirInterface()
{
    if (!QFile::exists("/sys/class/net/ethF")) {
        QSKIP("needs interfaces.topology");
    }
    ControllerFixture ctrl;
    // A /32 has no host to sweep: the scan ends at once, through the event loop.
    ctrl->startDiscover("198.19.7.1", 1);
    QTRY_COMPARE(ctrl.scan.lines, QStringList { "done" });
    QCOMPARE(ctrl->getArpProgress(), 0);
    // The swept adapter goes away mid-sweep: nothing more is sent, the scan ends and says why.
    ctrl.scan.lines.clear();
    ctrl->startDiscover("10.99.0.1", 1);
    QTest::qWait(600); // the delayed start, then every worker waits for its silent neighbour
    QCOMPARE(QProcess::execute("ip", { "link", "del", "ethF" }), 0);
    QTRY_COMPARE(ctrl.scan.lines, (QStringList { "done", "info|The interface is not available!" }));
    // The swept subnet is reachable through the default route now, and nothing went there.
    QCOMPARE(Lan::gatewayCount(), 0);

    // The command line, whichever ARP engine it takes, ends the same way, names the interface,
    // and still writes a JSON array of what it found (nothing here).
    QProcess program;
    program.start(QCoreApplication::applicationDirPath() + "/../lumisweep",
                  { "--scan", "arp", "--interface", "ethG", "--format", "json" });
    const auto sent = [] {
        QFile counter("/sys/class/net/ethG/statistics/tx_packets");
        return counter.open(QIODevice::ReadOnly) ? counter.readAll().trimmed().toInt() : -1;
    };
    const int before = sent();
    QTRY_VERIFY_WITH_TIMEOUT(sent() > before + 50, 30000); // the sweep's first requests
    QCOMPARE(QProcess::execute("ip", { "link", "del", "ethG" }), 0);
    QVERIFY(program.waitForFinished(60000));
    QCOMPARE(program.exitCode(), 1);
    QCOMPARE(program.readAllStandardOutput().trimmed(), QByteArray("[\n]"));
    QCOMPARE(program.readAllStandardError(),
             QByteArray("lumisweep: interface ethG (10.98.0.1) went away during the scan\n"));
    QCOMPARE(Lan::gatewayCount(), 0);
}

QTEST_MAIN(TestScans)
#include "tst_scans.moc"
