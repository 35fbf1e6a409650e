// The mDNS browse of the discovery service against a real avahi-daemon: run it with
// with-avahi.sh inside a test LAN. Each case announces its own devices with avahi-publish.
#include "mdnstestsupport.h"

#include "discovery/browsesession.h"
#include "tests/common/announcements.h"

#include <QtTest>

#include <QDir>

namespace {

const QString kStarted = QStringLiteral("Start successfully to run DNSServiceBrowse");

int entriesIn(const char *folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size();
}

QString lanAddress(int host)
{
    const QString scanner = qEnvironmentVariable("LUMISWEEP_LAN_SCANNER_IP", "198.18.0.1");
    return scanner.left(scanner.lastIndexOf('.') + 1) + QString::number(host);
}

} // namespace

class TestMdnsBrowse : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void announcedDeviceIsReported_data();
    void announcedDeviceIsReported();
    void stopIsPromptAndReleasesEverything_data();
    void stopIsPromptAndReleasesEverything();
    void crowdOfSilentHostsStaysBounded();
};

void TestMdnsBrowse::initTestCase()
{
    if (qEnvironmentVariableIsEmpty("DBUS_SYSTEM_BUS_ADDRESS")
        || qEnvironmentVariableIsEmpty("LUMISWEEP_LAN_IFACE")) {
        QFAIL("run through with-avahi.sh inside a test LAN");
    }
    LogCapture::install();
}

void TestMdnsBrowse::announcedDeviceIsReported_data()
{
    QTest::addColumn<QString>("instance");
    QTest::addColumn<QString>("hostRecord");
    QTest::addColumn<QStringList>("txt");
    QTest::addColumn<QStringList>("report"); // ip, mac, fw, name

    // The Code value tries to start a log line of its own.
    QTest::newRow("Cam1") << "Cam1" << lanAddress(20)
                          << QStringList { "MAC=00:11:22:33:44:55", "FW=1.0.3",
                                           "Code=17\nServiceResolveCallBack called! 6.6.6.6" }
                          << QStringList { lanAddress(20), "00-11-22-33-44-55", "1.0.3", "Cam1" };
    // An IPv6-only host: the daemon resolves the service, the IPv4 lookup of its host fails.
    QTest::newRow("no IPv4 address, interface value")
        << "Cam3"
        << "fd00::23"
        << QStringList { "MAC=00:11:22:33:44:58", "FW=1.0", "interface=eth0:" + lanAddress(99) }
        << QStringList { lanAddress(99), "00-11-22-33-44-58", "1.0", "Cam3" };
    QTest::newRow("no IPv4 address, no interface value: none made up")
        << "Cam4"
        << "fd00::24" << QStringList { "MAC=00:11:22:33:44:59" } << QStringList { "" };
    QTest::newRow("stop during the host lookup") << "Cam5"
                                                 << "fd00::25" << QStringList {} << QStringList {};
}

void TestMdnsBrowse::announcedDeviceIsReported()
{
    QFETCH(QString, instance);
    QFETCH(QString, hostRecord);
    QFETCH(QStringList, txt);
    QFETCH(QStringList, report);
    const QString host = instance.toLower().remove(' ') + ".local";
    Announcements announcements;
    QVERIFY(announcements.address(host, hostRecord));
    QVERIFY(announcements.service(instance, host, txt));
    LogCapture::take();

    BonjourWinService service(nullptr);
    ServiceReports reports(&service);
    service.startDiscover();
    const QString resolved = "ServiceResolveCallBack called! " + report.value(0) + ",";
    if (report.size() < 4) {
        // Nothing to report. The resolver spends seconds on a host without an IPv4 address; a
        // stop must not wait for it.
        if (report.isEmpty()) {
            QTRY_COMPARE_WITH_TIMEOUT(
                LogCapture::matching(" BrowserCallBack called! \"" + instance + "\""), 1, 5000);
            QTest::qWait(300);
        } else {
            QTRY_COMPARE_WITH_TIMEOUT(LogCapture::matching(resolved), 1, 15000);
        }
        QElapsedTimer timer;
        timer.start();
        service.stopDiscover();
        QVERIFY2(timer.elapsed() < 100, qPrintable(QString::number(timer.elapsed()) + " ms"));
        QTest::qWait(100);
        QCOMPARE(reports.countStartingWith(instance), 0);
        return;
    }
    // Instances of earlier cases may still be withdrawing: look for this one by name.
    QTRY_COMPARE_WITH_TIMEOUT(reports.countStartingWith(report.at(3)), 1, 15000);
    service.stopDiscover();
    const auto got = std::find_if(reports.found.begin(), reports.found.end(),
                                  [&](const auto &r) { return r.name == report.at(3); });
    QCOMPARE((QStringList { got->ip, got->mac, got->fw, got->name }), report);
    QVERIFY(reports.warnings.empty());
    QCOMPARE(LogCapture::matching(resolved), 1);
    QCOMPARE(LogCapture::matching("\n"), 0);
}

void TestMdnsBrowse::stopIsPromptAndReleasesEverything_data()
{
    QTest::addColumn<bool>("waitForBrowse");
    QTest::newRow("browse running, nothing answered") << true;
    // The stop arrives while the thread is still connecting; it must not be lost.
    QTest::newRow("right after start") << false;
}

void TestMdnsBrowse::stopIsPromptAndReleasesEverything()
{
    QFETCH(bool, waitForBrowse);
    BonjourWinService service(nullptr);
    // One browse first: the library keeps a few things for the life of the process.
    service.startDiscover();
    service.stopDiscover();
    const int fds = entriesIn("/proc/self/fd");
    const int threads = entriesIn("/proc/self/task");
    LogCapture::take();

    service.startDiscover();
    if (waitForBrowse) {
        QTRY_COMPARE_WITH_TIMEOUT(LogCapture::matching(kStarted), 1, 5000);
        service.startDiscover(); // while it runs: nothing new starts
        QTest::qWait(200);
        QCOMPARE(LogCapture::matching(kStarted), 1);
    }
    QElapsedTimer timer;
    timer.start();
    service.stopDiscover();
    QVERIFY2(timer.elapsed() < 100, qPrintable(QString::number(timer.elapsed()) + " ms"));
    // All released, once a host lookup that an earlier case abandoned has given up too.
    QTRY_VERIFY_WITH_TIMEOUT(entriesIn("/proc/self/fd") <= fds, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(entriesIn("/proc/self/task") <= threads, 10000);
    service.shutdown(); // nothing left to release a second time
}

void TestMdnsBrowse::crowdOfSilentHostsStaysBounded()
{
    // Hosts without an address record: Avahi never answers their resolves. With Avahi each
    // pending resolve holds a thread and a D-Bus connection, so only a few may run at once, and
    // the devices heard of after them still get their turn.
    constexpr int kSilent = 2 * BrowseSession::kMaxResolves;
    constexpr int kDevices = 8;
    Announcements announcements;
    QVERIFY(announcements.address("many.local", lanAddress(40)));
    for (int i = 0; i < kDevices; ++i) {
        QVERIFY(announcements.service(QString("Many%1").arg(i), "many.local",
                                      { QString("MAC=00:11:22:33:45:%1").arg(i + 10) }));
    }
    // Avahi hands the newest first: these come before the devices.
    for (int i = 0; i < kSilent; ++i) {
        QVERIFY(announcements.service(QString("Silent%1").arg(i), "nowhere.local", {}));
    }
    BonjourWinService service(nullptr);
    ServiceReports reports(&service);
    const int threads = entriesIn("/proc/self/task");
    LogCapture::take();
    service.startDiscover(); // all heard of at once
    int peak = 0;
    QTRY_VERIFY_WITH_TIMEOUT((peak = qMax(peak, entriesIn("/proc/self/task")),
                              reports.countStartingWith("Many") == kDevices
                                  && LogCapture::matching("called! \"Silent") == kSilent),
                             4 * BrowseSession::kResolveLimitMs);
    service.stopDiscover();
    // The browse holds two threads, and a resolve or a host lookup one each.
    QVERIFY2(peak <= threads + 2 + BrowseSession::kMaxResolves + 4,
             qPrintable(QString::number(peak - threads)));
    QCOMPARE(reports.countStartingWith("Many"), kDevices);
}

QTEST_GUILESS_MAIN(TestMdnsBrowse)
#include "tst_mdnsbrowse.moc"
