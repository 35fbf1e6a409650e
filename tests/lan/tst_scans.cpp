// The real Controller with its real discovery service in the simulated LAN, one scan type after
// the other, each compared with the whole table the user ends up with; then how scans stop, the
// identify command, the command line, and what the interface inventory sees.
#include "tests/common/testkit.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

namespace {

QString row(const QString &ip, const QString &mac, const QString &fw, const QString &name)
{
    return QStringLiteral("row|198.18.0.%1|%2|%3|%4").arg(ip, mac, fw, name);
}

const QString kCam10 = row("10", "02-06-00-00-00-10", "1.0.10", "Cam 10");
const QString kLobby = row("11", "D0-C8-00-00-00-11", "2.1\r", "Lobby Encoder");
const QString kNoName = row("12", "08-EA-40-00-00-12", "3.0", "");
const QString kTextPlain = row("13", "0C-8C-24-00-00-13", "", "");
const QString kUtf8 = row("14", "02-06-00-00-00-14", "4.0", QString::fromUtf8("Café ★ Nord"));
const QString kHangs = row("15", "D0-C8-00-00-00-15", "", "");
const QString kLate = row("16", "D0-C8-00-00-00-16", "5.0", "Late");
const QString kDeaf = row("17", "0C-8C-24-00-00-17", "5.1", "Deaf once");
const QString kLeaver = row("18", "02-06-00-00-00-18", "6.0", "Leaver");
const QString kQuoted = row("19", "08-EA-40-00-00-19", "7.0", "Say \"hi\",\r\tok");

// The table as it stands at the end: the last row of each address, in address text order.
QStringList finalTable(const QStringList &lines)
{
    QMap<QString, QString> last;
    for (const QString &line : lines.filter(QRegularExpression("^row\\|"))) {
        last.insert(line.section('|', 1, 1), line);
    }
    return last.values();
}

QJsonArray json(const QStringList &rows)
{
    QJsonArray array;
    for (const QString &line : rows) {
        const QStringList f = line.split('|');
        array.append(QJsonObject {
            { "ip", f[1] }, { "mac", f[2] }, { "firmware", f[3] }, { "name", f[4] } });
    }
    return array;
}

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
    // In the LAN of several adapters (interfaces.topology):
    void inventory();
    void sweepsEndWithTheirInterface();
};

void TestScans::sweeps_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QStringList>("table");
    QTest::addColumn<QStringList>("endRows");
    // Both late devices are found; the leaver answers its two queries, then leaves the LAN.
    QTest::newRow("arp") << 1 << QStringList { kCam10, kLobby, kNoName, kTextPlain, kUtf8,
                                               kHangs, kLate,  kDeaf,   kLeaver,    kQuoted }
                         << QStringList { kTextPlain, kHangs };
    // Its neighbour entry still names its MAC, but it no longer answers: no row.
    QTest::newRow("arp, 2 s after the leaver left")
        << 1
        << QStringList { kCam10, kLobby, kNoName, kTextPlain, kUtf8, kHangs, kLate, kDeaf, kQuoted }
        << QStringList { kTextPlain, kHangs };
    // Only accepted /public/macAddress replies count: not the text/plain or silent devices.
    // The slow ARP answerers are reached through the neighbour entries the ARP scans left.
    QTest::newRow("http probe") << 2 << QStringList { kCam10, kLobby, kNoName, kUtf8,
                                                      kLate,  kDeaf,  kQuoted }
                                << QStringList {};
}

void TestScans::sweeps()
{
    QFETCH(int, type);
    QFETCH(QStringList, table);
    QFETCH(QStringList, endRows);
    if (QTest::currentDataTag() == QLatin1String("arp, 2 s after the leaver left")) {
        QTest::qWait(2000);
    }
    ControllerFixture ctrl;
    SignalRecorder scan;
    scan.watch(ctrl.get(), &Controller::deviceFound, "row");
    scan.watch(ctrl.get(), &Controller::arpScanDone, "done");
    QCOMPARE(ctrl->getArpProgress(), 0);
    ctrl->startDiscover(Lan::scannerIp(), type);
    QTRY_COMPARE_WITH_TIMEOUT(scan.count("done"), 1, 60000);
    QCOMPARE(ctrl->getArpProgress(), 100);
    QTRY_COMPARE_WITH_TIMEOUT(ctrl->pendingDeviceQueries(), 0, 30000);
    QCOMPARE(finalTable(scan.lines), table);
    // What is incomplete at the end comes last, in address text order, then the end, once.
    const int done = scan.lines.indexOf("done");
    QStringList tail;
    for (int i = done - 1; i >= 0 && scan.lines[i].endsWith("||"); --i) {
        tail.prepend(scan.lines[i]);
    }
    QVERIFY2(tail.mid(0, endRows.size()) == endRows || tail == endRows,
             qPrintable(tail.join('\n')));
    QCOMPARE(scan.count("done"), 1);
}

void TestScans::mdnsScan()
{
    ControllerFixture ctrl;
    SignalRecorder scan;
    scan.watch(ctrl.get(), &Controller::deviceFound, "row");
    scan.watch(ctrl.get(), &Controller::arpScanDone, "done");
    ctrl->startDiscover(Lan::scannerIp(), 3);
    // One row per address, whichever instance resolves first; firmware and names holding NULL
    // are emptied; the other maker's host is not listed; the MAC is cut to 17 characters.
    const QStringList table { row("10", "02-06-00-00-00-10", "", ""),
                              row("14", "08-ea-40-00-00-14", "3.2.0", "Studio\\032C") };
    QTRY_COMPARE_WITH_TIMEOUT(scan.sorted(), table, 15000);
    QTest::qWait(1000); // instances resolved again must not add rows
    ctrl->stopDiscover(3);
    QCOMPARE(scan.sorted(), table);
}

void TestScans::stopping_data()
{
    QTest::addColumn<int>("rowsBeforeStop");
    // The sweep ends inside stopDiscover: incomplete rows, then the end; nothing after.
    QTest::newRow("mid-sweep") << 5;
    // Before the delayed start: the start is cancelled; the window saw the end already.
    QTest::newRow("before the sweep starts") << 0;
}

void TestScans::stopping()
{
    QFETCH(int, rowsBeforeStop);
    ControllerFixture ctrl;
    SignalRecorder scan;
    scan.watch(ctrl.get(), &Controller::deviceFound, "row");
    scan.watch(ctrl.get(), &Controller::arpScanDone, "done");
    ctrl->startDiscover(Lan::scannerIp(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(scan.lines.size() >= rowsBeforeStop, 20000);
    const int before = scan.lines.size();
    QCOMPARE(scan.count("done"), 0);
    ctrl->stopDiscover(1);
    const QStringList duringStop = scan.lines.mid(before);
    QVERIFY2(!duringStop.isEmpty() && duringStop.last() == "done",
             qPrintable(duringStop.join(';')));
    for (const QString &line : duringStop.mid(0, duringStop.size() - 1)) {
        QVERIFY2(line.endsWith("||"), qPrintable(line));
    }
    QTest::qWait(1500);
    QCOMPARE(scan.lines.size(), before + duringStop.size());
}

void TestScans::identify_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("sent");
    QTest::newRow("listening encoder") << "198.18.0.10" << true;
    QTest::newRow("refused") << "198.18.0.50" << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("host name") << "cam10.local" << false;
    QTest::newRow("address with a path") << "198.18.0.10/x" << false;
}

void TestScans::identify()
{
    QFETCH(QString, address);
    QFETCH(bool, sent);
    ControllerFixture ctrl;
    const QByteArray before = Lan::file("identify-198.18.0.10.bin");
    QCOMPARE(ctrl->indicateDevice(address), sent);
    const QByteArray expected = sent ? QByteArray("c0cmdset_identify-led") : QByteArray();
    // The device got exactly the command's bytes, then saw the connection close.
    QTRY_COMPARE(Lan::file("identify-198.18.0.10.bin").mid(before.size()), expected);
    if (sent) {
        QTRY_VERIFY(Lan::file("sim-198.18.0.10.log")
                        .contains("identify close from 198.18.0.1 after 21 bytes"));
    }
}

void TestScans::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("rows");
    const QString from = Lan::scannerIp();
    QTest::newRow("arp") << QStringList { "--scan", "arp", "--format", "json", "--interface", from }
                         << 0 << QStringList { kCam10, kLobby, kNoName, kTextPlain, kUtf8,
                                               kHangs, kLate,  kDeaf,   kQuoted };
    QTest::newRow("http") << QStringList {
        "--scan", "http", "--format", "json", "--interface", from
    } << 0 << QStringList { kCam10, kLobby, kNoName, kUtf8, kLate, kDeaf, kQuoted };
    QTest::newRow("mdns") << QStringList { "--scan", "mdns", "--wait", "2", "--format", "json" }
                          << 0
                          << QStringList { row("10", "02-06-00-00-00-10", "", ""),
                                           row("14", "08-ea-40-00-00-14", "3.2.0",
                                               "Studio\\032C") };
    QTest::newRow("no DNS-SD library")
        << QStringList { "--", QCoreApplication::applicationDirPath() + "/../lumisweep", "--scan",
                         "mdns" }
        << 1 << QStringList {};
    QTest::newRow("unknown scan") << QStringList { "--scan", "ping" } << 2 << QStringList {};
    QTest::newRow("unknown format")
        << QStringList { "--scan", "arp", "--format", "xml" } << 2 << QStringList {};
    QTest::newRow("two commands") << QStringList { "--scan", "arp", "--list-interfaces" } << 2
                                  << QStringList {};
    QTest::newRow("malformed interface")
        << QStringList { "--scan", "arp", "--interface", "198.18.0" } << 2 << QStringList {};
    QTest::newRow("unavailable interface")
        << QStringList { "--scan", "arp", "--interface", "198.18.0.99" } << 1 << QStringList {};
}

void TestScans::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QStringList, rows);
    QProcess program;
    QString executable = QCoreApplication::applicationDirPath() + "/../lumisweep";
    if (arguments.first() == "--") {
        executable = QStringLiteral(LUMISWEEP_WITHOUT_DNSSD);
    }
    program.start(executable, arguments);
    QVERIFY(program.waitForFinished(60000));
    QCOMPARE(program.exitCode(), exitCode);
    if (exitCode == 0) {
        QCOMPARE(QJsonDocument::fromJson(program.readAllStandardOutput()).array(), json(rows));
    } else {
        QVERIFY(!program.readAllStandardError().isEmpty()); // it says why
    }
}

void TestScans::inventory()
{
    if (Lan::interface() != "lan0" || !QFile::exists("/sys/class/net/ethA")) {
        QSKIP("needs interfaces.topology");
    }
    ControllerFixture ctrl;
    // Text order; a shared address once; a down adapter and 127.0.0.2 included, 127.0.0.1 not.
    QCOMPARE(ctrl->getNetworkList(),
             (QStringList { "10.0.0.5", "10.99.0.1", "127.0.0.2", "169.254.7.7", "172.16.0.1",
                            "192.168.1.10", "192.168.1.9", "198.18.0.1", "198.19.7.1" }));
    SignalRecorder info;
    info.watch(ctrl.get(), &Controller::infoMessage, "info");
    QVERIFY(ctrl->isInterfaceAvailable("192.168.1.9"));
    QVERIFY(info.lines.isEmpty());
    QCOMPARE(QProcess::execute("ip", { "addr", "del", "192.168.1.9/24", "dev", "ethB" }), 0);
    QVERIFY(!ctrl->isInterfaceAvailable("192.168.1.9"));
    QCOMPARE(info.lines, QStringList { "info|The interface is not available!" });
}

void TestScans::sweepsEndWithTheirInterface()
{
    if (!QFile::exists("/sys/class/net/ethF")) {
        QSKIP("needs interfaces.topology");
    }
    ControllerFixture ctrl;
    SignalRecorder scan;
    scan.watch(ctrl.get(), &Controller::deviceFound, "row");
    scan.watch(ctrl.get(), &Controller::arpScanDone, "done");
    scan.watch(ctrl.get(), &Controller::infoMessage, "info");
    // A /32 has no host to sweep: the scan ends at once, through the event loop.
    ctrl->startDiscover("198.19.7.1", 1);
    QTRY_COMPARE(scan.lines, QStringList { "done" });
    QCOMPARE(ctrl->getArpProgress(), 0);
    // The swept adapter goes away mid-sweep: nothing more is sent, the scan ends and says why.
    scan.lines.clear();
    ctrl->startDiscover("10.99.0.1", 1);
    QTest::qWait(600); // the delayed start, then every worker waits for its silent neighbour
    QCOMPARE(QProcess::execute("ip", { "link", "del", "ethF" }), 0);
    QTRY_COMPARE(scan.lines, (QStringList { "done", "info|The interface is not available!" }));
}

QTEST_MAIN(TestScans)
#include "tst_scans.moc"
