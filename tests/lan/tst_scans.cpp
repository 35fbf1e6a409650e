// The real Controller with its real discovery service in the simulated LAN, and the real program
// on its command line: each scan type compared with the whole table the user ends up with, also
// among devices that attack, then how scans stop, also at random moments again and again, the
// identify command, the command line's exits and interrupts, the ARP helper, and what the
// interface inventory sees.
#include "discovery/bonjourwinservice.h"
#include "tests/common/testkit.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QSemaphore>

#include <csignal>
#include <sys/resource.h>

namespace {
// Recorded rows ("row|ip|mac|fw|name", then flags: "conflict", "outsideSubnet", "unanswered")
// as the command line's JSON gives them.
QJsonArray jsonRows(const QStringList &rows)
{
    QJsonArray array;
    for (const QString &line : rows) {
        const QStringList f = line.split('|');
        QJsonObject row { { "ip", f[1] }, { "mac", f[2] }, { "firmware", f[3] }, { "name", f[4] } };
        for (const QString &flag : f.mid(5)) {
            flag == "unanswered" ? row.insert("answered", false) : row.insert(flag, true);
        }
        array.append(row);
    }
    return array;
}

long peakMiB()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

// The rows as deviceFound gives them, without the flags.
QStringList withoutFlags(const QStringList &rows)
{
    QStringList bare;
    for (const QString &row : rows) {
        bare << row.section('|', 0, 4);
    }
    bare.sort();
    return bare;
}

// Whether the process has its handlers for both interrupts in place, as /proc says.
bool catchesInterrupts(qint64 pid)
{
    QFile status(QString("/proc/%1/status").arg(pid));
    status.open(QIODevice::ReadOnly);
    const QRegularExpression caughtMask("SigCgt:\\s*(\\w+)");
    const quint64 caught = caughtMask.match(QString::fromLatin1(status.readAll()))
                               .captured(1)
                               .toULongLong(nullptr, 16);
    return (caught >> (SIGINT - 1) & 1) && (caught >> (SIGTERM - 1) & 1);
}

// The names of the process's threads (Qt names each after its class).
QStringList threadNames(qint64 pid)
{
    QStringList names;
    for (const QString &task : QDir(QString("/proc/%1/task").arg(pid)).entryList(QDir::Dirs)) {
        QFile comm(QString("/proc/%1/task/%2/comm").arg(pid).arg(task));
        if (comm.open(QIODevice::ReadOnly)) {
            names << QString::fromLatin1(comm.readAll().trimmed());
        }
    }
    return names;
}

// Whether the kernel's neighbour entry for address is no longer confirmed (STALE), or gone
// (FAILED, none), as minutes would leave it on a real LAN.
bool neighbourAged(const QString &address)
{
    QProcess ip;
    ip.start("ip", { "-4", "neigh", "show", address });
    ip.waitForFinished();
    const QString state
        = QString::fromLatin1(ip.readAllStandardOutput()).simplified().section(' ', -1);
    return state == "STALE" || state == "FAILED" || state.isEmpty();
}

// One run of the program: its arguments (a wrapper first, or the program's own), how it must end,
// the rows it must print when it ran to its end, and what its standard error must hold. An
// interrupt goes once the program catches it, and once a thread of it runs or a simulator has
// logged a text (new since the start), when named.
struct Run
{
    Run(const QStringList &arguments = {}, int exitCode = 0, const QStringList &rows = {},
        const QStringList &said = {})
        : arguments(arguments), exitCode(exitCode), rows(rows), stderrHolds(said)
    {
    }
    QStringList arguments;
    int exitCode;
    QStringList rows;
    QStringList stderrHolds;
    int interrupt = 0;
    QString thread;
    QString simLog;
    QByteArray simText;
};

const QString kCam10 = row(10, "02-06-00-00-00-10", "1.0.10", "Cam 10");
const QString kLobby = row(11, "D0-C8-00-00-00-11", "2.1\r", "Lobby Encoder");
const QString kNoName = row(12, "08-EA-40-00-00-12", "3.0", "");
const QString kTextPlain = row(13, "0C-8C-24-00-00-13", "", "") + "|unanswered";
const QString kUtf8 = row(14, "02-06-00-00-00-14", "4.0", QString::fromUtf8("Café ★ Nord"));
const QString kHangs = row(15, "D0-C8-00-00-00-15", "", "") + "|unanswered";
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
Q_DECLARE_METATYPE(Run)

class TestScans : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { REQUIRE_LAN(); }
    void sweeps_data();
    void sweeps();
    void mdnsScan();
    // In the hostile LAN (hostile.topology): devices and announcers that attack.
    void hostileScans_data();
    void hostileScans() { sweeps(); }
    void stopping_data();
    void stopping();
    // In the small LAN of stress.topology, one Controller: each scan type started and stopped
    // at random moments (LUMISWEEP_STRESS_CYCLES times, 5 by default; CI runs 200), then one
    // clean scan of each must still find every device, and no thread may be left behind.
    void stressBaseline();
    void randomStops_data();
    void randomStops();
    void cleanScansAfterwards();
    void identify_data();
    void identify();
    void commandLine_data();
    void commandLine();
    // In the LAN of the ARP helper (engine.topology), as root and as a user the helper's
    // capability serves:
    void helperEngine_data();
    void helperEngine() { commandLine(); }
    // In the LAN of several adapters (interfaces.topology):
    void inventory();
    void sweepsEndWithTheirInterface();

private:
    // A scan of the stressed Controller to its end; the addresses of its table.
    QStringList oneScan(int type);

    std::unique_ptr<ControllerFixture> m_stressed;
    int m_threadsBefore = 0;
};

void TestScans::sweeps_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QStringList>("table");
    // Both late devices are found; the leaver answers its two queries, then leaves the LAN. The
    // text/plain and the silent device are listed, marked as not answering as encoders.
    QTest::newRow("arp") << 1 << (QStringList(kArp) << kLeaver);
    // Only accepted /public/macAddress replies count: not the text/plain or silent devices.
    // The slow ARP answerers are reached through the neighbour entries the ARP scan left.
    QTest::newRow("http probe") << 2 << kHttp;
}

void TestScans::sweeps()
{
    QFETCH(int, type);
    QFETCH(QStringList, table);
    const long before = peakMiB();
    LogCapture log;
    {
        ControllerFixture ctrl;
        QStringList atEnd;
        connect(ctrl.get(), &Controller::arpScanDone, this, [&] {
            for (const DeviceRow &device : ctrl->deviceRows()) {
                atEnd << device.ip;
            }
        });
        QCOMPARE(ctrl->getArpProgress(), 0);
        ctrl->startDiscover(Lan::scannerIp(), type);
        if (type == 3) { // a browse has no end of its own
            QTRY_COMPARE_WITH_TIMEOUT(ctrl.scan.lines.size(), table.size(), 15000);
            ctrl->stopDiscover(3);
        } else {
            QTRY_COMPARE_WITH_TIMEOUT(ctrl.scan.count("done"), 1, 60000);
            QCOMPARE(ctrl->getArpProgress(), 100);
            QTRY_COMPARE_WITH_TIMEOUT(ctrl->pendingDeviceQueries(), 0, 60000);
            // Every device has its row when the end is reported, complete or not.
            QStringList devices;
            for (const QString &row : table) {
                devices << row.section('|', 1, 1);
            }
            QCOMPARE(QSet<QString>(atEnd.cbegin(), atEnd.cend()),
                     QSet<QString>(devices.cbegin(), devices.cend()));
            QCOMPARE(ctrl.scan.count("done"), 1);
        }
        QCOMPARE(ctrl.scan.table(), withoutFlags(table));
    }
    // No device could forge a line or drive the terminal of whoever reads the log.
    for (const QString &line : log.lines()) {
        QVERIFY2(std::all_of(line.cbegin(), line.cend(),
                             [](QChar c) { return c >= ' ' && c != '\x7f'; }),
                 qPrintable(line.left(200)));
    }
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    // A 1 MB gzip of 1 GiB, 100 MB bodies and endless headers: nothing piles up.
    QVERIFY2(peakMiB() - before < 64, qPrintable(QString::number(peakMiB() - before)));
#endif
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
    // SIGTERM: avahi-publish withdraws its record before it exits.
    ::kill(address.processId(), SIGTERM);
    QVERIFY(address.waitForFinished());
    address.start("avahi-publish", { "-a", "-R", "mover.local", "198.18.0.61" });
    QTRY_COMPARE_WITH_TIMEOUT(ctrl.scan.lines.mid(kMdns.size()),
                              (QStringList { row(60, "0C-8C-24-00-00-60", "", "Mover"),
                                             "gone|198.18.0.60|0C-8C-24-00-00-60",
                                             row(61, "0C-8C-24-00-00-60", "", "Mover") }),
                              15000);
    QCOMPARE(ctrl->deviceRows().size(), kMdns.size() + 1);
}

void TestScans::hostileScans_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QStringList>("table");
    const QString cut(64 * 1024, 'A'); // bodies end at 64 KiB, the row stays
    const QString good = row(10, "02-06-00-00-00-10", "1.0", "Good 10");
    const QString longName = row(23, "0C-8C-24-00-00-23", "1.3", QString(10000, 'N'));
    const QString nulAndLatin1 = row(24, "D0-C8-00-00-00-24",
                                     QString::fromLatin1("\xff\xfe"
                                                         "1.4"),
                                     "Bad");
    const QString markup
        = row(25, "02-06-00-00-00-25", "1.5",
              "<img src=\"http://198.18.0.1/x.png\"><a href=\"http://198.18.0.1/\">click</a>");
    const QString impostor = row(27, "02-06-00-00-00-27", "1.7", "Impostor");
    const QString controls = row(30, "08-EA-40-00-00-30", "1.8", "LineINFO forged\x1b[2J");
    QStringList arp { good,
                      row(20, "D0-C8-00-00-00-20", cut, cut),
                      row(21, "02-06-00-00-00-21", cut, cut),
                      row(22, "08-EA-40-00-00-22", "", ""), // dripping: given up, empty
                      longName,
                      nulAndLatin1,
                      markup,
                      row(26, "D0-C8-00-00-00-26", "1.6", "Garbage MAC"),
                      impostor,
                      row(28, "D0-C8-00-00-00-28", "", ""), // compressed: not accepted
                      row(29, "02-06-00-00-00-29", "", ""), // endless headers: given up
                      controls };
    // The impostor's own rows: it answers ARP for a range, nothing else. Their queries, two a
    // host, are more than may be in flight at once: the rest wait their turn, and none is lost.
    for (int host = 192; host <= 254; ++host) {
        arp << row(host, "02-06-00-00-00-27", "", "");
    }
    arp.sort();
    QTest::newRow("arp") << 1 << arp;
    // The probe needs an accepted MAC reply: huge, endless, dripping, compressed, garbage and
    // header-streaming replies give none.
    QTest::newRow("http probe") << 2 << QStringList { good,   longName, nulAndLatin1,
                                                      markup, impostor, controls };
    // The name as the announcer wrote it, markup and all, which the window shows as text; the
    // MAC is cut to 17 characters.
    QTest::newRow("mdns") << 3
                          << QStringList { row(31, "02-06-00-00-00-31", QString(252, 'F'),
                                               "<b>Evil</b>") };
}

void TestScans::stopping_data()
{
    QTest::addColumn<int>("type");
    // A device whose queries must be in flight when the stop comes; empty: none.
    QTest::addColumn<QString>("asked");
    QTest::addColumn<bool>("afterItsEnd"); // the sweep has ended, its report still queued
    // The sweep ends inside stopDiscover: incomplete rows, then the end, once. Before the
    // delayed start, the start is cancelled and nothing follows.
    QTest::newRow("mid-sweep, the slow server's answers on their way")
        << 1 << "198.18.0.20" << false;
    QTest::newRow("before the sweep starts") << 1 << "" << false;
    QTest::newRow("after the sweep's own end, not yet reported") << 1 << "" << true;
}

void TestScans::stopping()
{
    QFETCH(int, type);
    QFETCH(QString, asked);
    QFETCH(bool, afterItsEnd);
    ControllerFixture ctrl;
    // Released in the worker that ends the sweep, right after it has queued its report.
    QSemaphore ended;
    connect(ctrl.engine()->rootContext()->findChild<BonjourWinService *>(),
            &BonjourWinService::sweepEnded, [&ended] { ended.release(); });
    const QString simLog = "sim-" + asked + ".log";
    const int logged = Lan::file(simLog).size();
    ctrl->startDiscover(Lan::scannerIp(), type);
    if (afterItsEnd) {
        // No event is handled while this waits: the end stays queued.
        QTRY_VERIFY_WITH_TIMEOUT(ctrl->getArpProgress() > 0, 20000);
        QVERIFY(ended.tryAcquire(1, 60000));
    } else if (!asked.isEmpty()) {
        QTRY_VERIFY_WITH_TIMEOUT(
            Lan::file(simLog).mid(logged).contains("http GET /public/deviceName"), 20000);
    }
    const int before = ctrl.scan.lines.size();
    QCOMPARE(ctrl.scan.count("done"), 0);
    ctrl->stopDiscover(type);
    const QStringList duringStop = ctrl.scan.lines.mid(before);
    QVERIFY(!duringStop.isEmpty() && duringStop.last() == "done");
    QCOMPARE(duringStop.filter(QRegularExpression("\\|\\|$")).size(), duringStop.size() - 1);
    if (asked.isEmpty() && !afterItsEnd) {
        QTest::qWait(1500);
        QCOMPARE(ctrl.scan.lines, duringStop);
        return;
    }
    // The answers already on their way still complete their devices; no device is new, and
    // the end the sweep reported itself is not reported again.
    QTRY_COMPARE_WITH_TIMEOUT(ctrl->pendingDeviceQueries(), 0, 30000);
    QVERIFY(ctrl.scan.table().contains(kSlow));
    QCOMPARE(ctrl.scan.count("done"), 1);
    for (const QString &line : ctrl.scan.lines.mid(before + duringStop.size())) {
        QVERIFY2(line.startsWith("row|") && duringStop.contains(line.section('|', 0, 2) + "||"),
                 qPrintable(line));
    }
}

void TestScans::stressBaseline()
{
    m_stressed.reset(new ControllerFixture);
    // One scan of each kind first, so that Qt's lazily started threads are counted in.
    for (int type : { 1, 2, 3 }) {
        oneScan(type);
    }
    QTest::qWait(500);
    m_threadsBefore = threadNames(QCoreApplication::applicationPid()).size();
}

QStringList TestScans::oneScan(int type)
{
    SignalRecorder &scan = m_stressed->scan;
    scan.lines.clear();
    (*m_stressed)->startDiscover(Lan::scannerIp(), type);
    if (type == 3) {
        QTest::qWait(1500); // a browse has no end of its own
        (*m_stressed)->stopDiscover(3);
    } else if (!QTest::qWaitFor(
                   [&] { return scan.count("done") && !(*m_stressed)->pendingDeviceQueries(); },
                   20000)) {
        return { "the scan did not end" };
    }
    QStringList ips;
    for (const QString &line : scan.table()) {
        ips << line.section('|', 1, 1);
    }
    return ips;
}

void TestScans::randomStops_data()
{
    QTest::addColumn<int>("type");
    QTest::newRow("ARP") << 1;
    QTest::newRow("Http Download") << 2;
    QTest::newRow("mDNS") << 3;
}

void TestScans::randomStops()
{
    QFETCH(int, type);
    QVERIFY2(m_stressed, "stressBaseline runs first");
    QRandomGenerator random(20261207 + type);
    const int asked = qEnvironmentVariableIntValue("LUMISWEEP_STRESS_CYCLES");
    for (int cycle = 0; cycle < (asked > 0 ? asked : 5); ++cycle) {
        (*m_stressed)->startDiscover(Lan::scannerIp(), type);
        // Before the delayed start, mid-sweep, or around and after the end.
        QTest::qWait(random.bounded(type == 3 ? 400 : 1600));
        const int before = m_stressed->scan.count("done");
        (*m_stressed)->stopDiscover(type);
        // A sweep's stop reports the end once, inside the call; a browse's never.
        QCOMPARE(m_stressed->scan.count("done") - before, type == 3 ? 0 : 1);
    }
}

void TestScans::cleanScansAfterwards()
{
    QVERIFY2(m_stressed, "stressBaseline runs first");
    const QStringList devices { "198.18.0.10", "198.18.0.11", "198.18.0.12", "198.18.0.13" };
    QCOMPARE(oneScan(1), devices);
    QCOMPARE(oneScan(2), devices);
    QCOMPARE(oneScan(3), QStringList { "198.18.0.10" });
    QTest::qWait(500);
    const int threads = threadNames(QCoreApplication::applicationPid()).size();
    QVERIFY2(threads <= m_threadsBefore, qPrintable(QString::number(threads)));
}

void TestScans::identify_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QByteArray>("received"); // by the listening encoder; empty: not sent
    QTest::newRow("listening encoder") << "198.18.0.10" << QByteArray("c0cmdset_identify-led");
    QTest::newRow("empty") << "" << QByteArray();
    QTest::newRow("address with a path") << "198.18.0.10/x" << QByteArray();
}

void TestScans::identify()
{
    QFETCH(QString, address);
    QFETCH(QByteArray, received);
    ControllerFixture ctrl;
    const QByteArray before = Lan::file("identify-198.18.0.10.bin");
    QCOMPARE(ctrl->indicateDevice(address), !received.isEmpty());
    // The device got exactly the command's bytes, then saw the connection close.
    QTRY_COMPARE(Lan::file("identify-198.18.0.10.bin").mid(before.size()), received);
    QTRY_VERIFY(received.isEmpty()
                || Lan::file("sim-198.18.0.10.log")
                       .contains("identify close from 198.18.0.1 after 21 bytes"));
}

void TestScans::commandLine_data()
{
    QTest::addColumn<Run>("run");
    const QStringList json { "--format", "json" };
    // Without the raw-socket capability, as most users run it: no echo, so a neighbour the
    // kernel knew already must answer a knock to count. The leaver's entry may still name its
    // MAC, but it no longer answers: no row. The verbose log shows each value as the row reads
    // it: UTF-8 as UTF-8, quoted.
    QTest::newRow("arp without CAP_NET_RAW, the leaver's entry aged")
        << Run({ "setpriv", "--bounding-set=-net_raw", "--inh-caps=-net_raw", "--", "sh", "-c",
                 "exec \"$0\" --scan arp --format json --interface lan0 --verbose" },
               0, kArp, { QString::fromUtf8("Data: \"Caf\u00e9 \u2605 Nord\"") });
    // The instance without an address record has no row, and is counted; the verbose log shows
    // each value as the row reads it, UTF-8 as UTF-8, quoted.
    QTest::newRow("mdns") << Run(
        QStringList { "--scan", "mdns", "--wait", "2", "--verbose" } + json, 0, kMdns,
        { "lumisweep: 1 announced instance gave no address\n",
          QString::fromUtf8(",\"3.2-\u00dcber\",") });
    // Interrupted at every moment of a scan (a browse long enough for the interrupt to come
    // first): 130, and whatever was found as well-formed output.
    const auto interrupted = [&json](const char *scan, int signal, const char *thread = "",
                                     const char *simLog = "", const char *simText = "") {
        Run run(QString("--scan %1").arg(scan).split(' ') + json, 130);
        run.interrupt = signal;
        run.thread = thread;
        run.simLog = simLog;
        run.simText = simText;
        return run;
    };
    QTest::newRow("arp, Ctrl-C before the sweep") << interrupted("arp", SIGINT);
    QTest::newRow("arp, Ctrl-C mid-sweep")
        << interrupted("arp", SIGINT, "", "sim-198.18.0.16.log", "arp request");
    QTest::newRow("arp, Ctrl-C with queries pending")
        << interrupted("arp", SIGINT, "", "sim-198.18.0.20.log", "GET /public/deviceName");
    QTest::newRow("http, SIGTERM before the sweep") << interrupted("http", SIGTERM);
    QTest::newRow("http, Ctrl-C mid-sweep")
        << interrupted("http", SIGINT, "", "sim-198.18.0.10.log", "GET /public/macAddress");
    QTest::newRow("http, SIGTERM with queries pending")
        << interrupted("http", SIGTERM, "", "sim-198.18.0.20.log", "GET /public/deviceName");
    QTest::newRow("mdns, Ctrl-C before the browse") << interrupted("mdns --wait 60", SIGINT);
    QTest::newRow("mdns, SIGTERM while browsing")
        << interrupted("mdns --wait 60", SIGTERM, "BonjourThread");
    QTest::newRow("output that cannot be written")
        << Run({ "sh", "-c", "exec \"$0\" --scan mdns --wait 0.5 --format csv >/dev/full" }, 1);
    // As on a machine without the library: every file the loader could find is /dev/null.
    QTest::newRow("no DNS-SD library")
        << Run({ "unshare", "--mount", "sh", "-c",
                 "for f in $(ldconfig -p | awk '/libdns_sd/{print $NF}'); do "
                 "mount --bind /dev/null $(readlink -f $f); done; exec \"$0\" --scan mdns" },
               1);
    // A scan that cannot run still writes its (empty) table: an empty JSON array here.
    QTest::newRow("unavailable interface")
        << Run({ "--scan", "arp", "--interface", "198.18.0.99", "--format", "json" }, 1, {},
               { "lumisweep: no interface has the address 198.18.0.99\n" });
    QTest::newRow("unknown interface name")
        << Run({ "--scan", "arp", "--interface", "eth9", "--format", "json" }, 1, {},
               { "lumisweep: no interface named 'eth9' has an IPv4 address\n" });
    // The kernel refuses the range: a route of type unreachable, for this row only.
    QTest::newRow("routed range without a route")
        << Run({ "sh", "-c",
                 "ip route add unreachable 192.0.2.0/24 || exit 9; "
                 "\"$0\" --scan http --range 192.0.2.0/24 --format json; status=$?; "
                 "ip route del unreachable 192.0.2.0/24; exit $status" },
               1, {}, { "lumisweep: no route to 192.0.2.0/24\n" });
    // Without the helper, a named range only partly on the link is refused whole, before a
    // single row: 198.18.1.0/24 lies behind the router.
    QTest::newRow("range partly off the link, no helper")
        << Run({ "setpriv", "--bounding-set=-net_raw", "--inh-caps=-net_raw", "--", "sh", "-c",
                 "exec \"$0\" --scan arp --range 198.18.0.0/23 --format json" },
               1, {},
               { "lumisweep: 198.18.0.0/23: A range off this computer's links needs the ARP "
                 "helper, which cannot run: " });
    QTest::newRow("identify taken") << Run({ "--identify", "198.18.0.10" }, 0);
    QTest::newRow("identify refused")
        << Run({ "--identify", "198.18.0.50" }, 1, {},
               { "lumisweep: Identify device: 198.18.0.50 failed\n" });
}

void TestScans::commandLine()
{
    QFETCH(Run, run);
    if (QByteArray(QTest::currentDataTag()).endsWith("the leaver's entry aged")) {
        QTRY_VERIFY_WITH_TIMEOUT(neighbourAged("198.18.0.18"), 10000);
    }
    QProcess program;
    const int logged = Lan::file(run.simLog).size();
    if (run.arguments.first().startsWith("--")) {
        program.start(buildFile("lumisweep"), run.arguments);
    } else {
        program.start(run.arguments.first(), run.arguments.mid(1) << buildFile("lumisweep"));
    }
    QVERIFY(program.waitForStarted());
    if (run.interrupt != 0) {
        const qint64 pid = program.processId();
        QTRY_VERIFY_WITH_TIMEOUT(catchesInterrupts(pid), 30000);
        QTRY_VERIFY_WITH_TIMEOUT(run.thread.isEmpty() || threadNames(pid).contains(run.thread),
                                 30000);
        QTRY_VERIFY_WITH_TIMEOUT(
            run.simLog.isEmpty() || Lan::file(run.simLog).mid(logged).contains(run.simText), 30000);
        ::kill(pid, run.interrupt);
    }
    QVERIFY(program.waitForFinished(60000));
    const QByteArray log = program.readAllStandardError();
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), run.exitCode);
    QVERIFY2(run.exitCode == 0 || run.exitCode == 130 || !log.isEmpty(), "it says why");
    for (const QString &said : run.stderrHolds) {
        // A message is its own line; a piece of the log need not be.
        const QByteArray expected = said.toUtf8();
        QVERIFY2(('\n' + log).contains(expected.endsWith('\n') ? '\n' + expected : expected),
                 log.constData());
    }
    const QByteArray output = program.readAllStandardOutput();
    // Whatever happened, short of a usage error, a JSON array: of the rows found, maybe none.
    if (run.exitCode != 2 && run.arguments.join(' ').contains("--format json")) {
        QJsonParseError error;
        QVERIFY2(QJsonDocument::fromJson(output, &error).isArray(),
                 qPrintable(error.errorString()));
    }
    if (run.interrupt != 0) {
        return;
    }
    QCOMPARE(QJsonDocument::fromJson(output).array(), jsonRows(run.rows));
}

void TestScans::helperEngine_data()
{
    QTest::addColumn<Run>("run");
    const QStringList arp { "--scan", "arp", "--format", "json" };
    const QString twinA = row(40, "02-06-00-00-00-40", "", "") + "|conflict";
    const QString twinB = row(40, "D0-C8-00-00-00-41", "", "") + "|conflict";
    // Answers ARP only: no HTTP reaches it.
    const QString firewalled = row(60, "0C-8C-24-00-00-60", "", "") + "|unanswered";
    const QStringList found { row(10, "02-06-00-00-00-10", "1.0", "Cam 10"),
                              row(16, "D0-C8-00-00-00-16", "5.0", "Late"),
                              row(17, "0C-8C-24-00-00-17", "5.1", "Deaf once"),
                              row(18, "02-06-00-00-00-18", "6.0", "Leaver"),
                              twinA,
                              twinB,
                              firewalled };
    const auto add = [](const char *name, const QStringList &arguments, const QStringList &rows) {
        QTest::newRow(name) << Run(arguments, 0, rows);
    };
    // Two devices on one address are two rows, neither with the other's answers; the late and
    // the once-deaf device are found; the firewalled one answers ARP only.
    add("sweep", arp, found);
    // The leaver is gone; the firewalled device, cached by now, is listed all the same.
    QStringList rescan = found;
    rescan.removeAt(3);
    add("rescan, the leaver's entry aged", arp, rescan);
    // Another subnet on the link: found, but with no route to ask it anything.
    add("another subnet's range",
        QStringList(arp) << "--range"
                         << "10.77.0.0/24",
        { "row|10.77.0.5|08-EA-40-00-07-05||" });
    // As a user, the build folder's helper holding CAP_NET_RAW, as README's setcap line leaves
    // it on a user's machine.
    add("a user, the helper holding the capability",
        { qEnvironmentVariable("LUMISWEEP_SOURCE_DIR") + "/tests/lan/with-helper-capability.sh",
          buildFile("lumisweep-arp"), "--", "sh", "-c", "exec \"$0\" " + arp.join(' ') },
        rescan);
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
    const auto asking = [] {
        QProcess ip;
        ip.start("ip", { "-4", "neigh", "show", "dev", "ethF" });
        ip.waitForFinished();
        return !ip.readAllStandardOutput().trimmed().isEmpty();
    };
    QTRY_VERIFY(asking()); // the workers wait for their silent neighbours
    QCOMPARE(QProcess::execute("ip", { "link", "del", "ethF" }), 0);
    QTRY_COMPARE(ctrl.scan.lines, (QStringList { "done", "info|The interface is not available!" }));
    // The swept subnet is reachable through the default route now, and nothing went there.
    QCOMPARE(Lan::gatewayCount(), 0);

    // The command line, whichever ARP engine it takes, ends the same way, names the interface,
    // and still writes a JSON array of what it found (nothing here).
    QProcess program;
    program.start(buildFile("lumisweep"),
                  { "--scan", "arp", "--interface", "ethG", "--format", "json" });
    const auto sent = [] {
        QFile counter("/sys/class/net/ethG/statistics/tx_packets");
        return counter.open(QIODevice::ReadOnly) ? counter.readAll().trimmed().toInt() : -1;
    };
    const int before = sent();
    QTRY_VERIFY_WITH_TIMEOUT(sent() > before + 50, 30000); // the sweep's first requests
    QCOMPARE(QProcess::execute("ip", { "link", "del", "ethG" }), 0);
    QVERIFY(program.waitForFinished(60000));
    QCOMPARE(program.readAllStandardError(),
             QByteArray("lumisweep: interface ethG (10.98.0.1) went away during the scan\n"));
    QCOMPARE(program.exitCode(), 1);
    QCOMPARE(program.readAllStandardOutput().trimmed(), QByteArray("[\n]"));
    QCOMPARE(Lan::gatewayCount(), 0);
}

QTEST_MAIN(TestScans)
#include "tst_scans.moc"
