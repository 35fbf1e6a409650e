// The mDNS browse of the discovery service against a real avahi-daemon: run it with
// with-avahi.sh inside a test LAN. Each case announces its own devices with avahi-publish.
#include "mdnstestsupport.h"

#include "tests/common/announcements.h"

#include <QtTest>

#include <QDir>
#include <QProcess>

#include <memory>
#include <vector>

namespace {

const QString kStarted = QStringLiteral("Start successfully to run DNSServiceBrowse");

int entriesIn(const char *folder)
{
    return QDir(QString::fromLatin1(folder))
        .entryList(QDir::AllEntries | QDir::NoDotAndDotDot)
        .size();
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
    void secondStartStartsNothingNew();
    void stopWithoutBrowseOnlyLogs();
    void stopIsPromptAndReleasesEverything_data();
    void stopIsPromptAndReleasesEverything();
    void answeredAndFailedResolvesEnd();
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

    QTest::newRow("Cam1") << "Cam1" << lanAddress(20)
                          << QStringList { "MAC=00:11:22:33:44:55", "FW=1.0.3", "Code=17" }
                          << QStringList { lanAddress(20), "00-11-22-33-44-55", "1.0.3", "Cam1" };
    QTest::newRow("long MAC, no FW")
        << "Cam2" << lanAddress(21) << QStringList { "MAC=00:11:22:33:44:56:77:88" }
        << QStringList { lanAddress(21), "00-11-22-33-44-56", "", "Cam2" };
    QTest::newRow("name with a space")
        << "Lobby Encoder" << lanAddress(22) << QStringList { "MAC=00:11:22:33:44:57", "FW=2.1" }
        << QStringList { lanAddress(22), "00-11-22-33-44-57", "2.1", "Lobby\\032Encoder" };
    // An IPv6-only host: the daemon resolves the service, the IPv4 lookup of its host fails.
    QTest::newRow("no IPv4 address, interface value")
        << "Cam3"
        << "fd00::23"
        << QStringList { "MAC=00:11:22:33:44:58", "FW=1.0", "interface=eth0:" + lanAddress(99) }
        << QStringList { lanAddress(99), "00-11-22-33-44-58", "1.0", "Cam3" };
    QTest::newRow("no IPv4 address, no interface value")
        << "Cam4"
        << "fd00::24" << QStringList { "MAC=00:11:22:33:44:59" }
        << QStringList { "0.0.0.0", "00-11-22-33-44-59", "", "Cam4" };
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
    if (report.isEmpty()) {
        // The resolver spends seconds on a host without an IPv4 address; a stop must not wait
        // for it, nor may a report with a made-up address follow.
        QTRY_COMPARE_WITH_TIMEOUT(LogCapture::count(" BrowserCallBack called! " + instance), 1,
                                  5000);
        QTest::qWait(300);
        QElapsedTimer timer;
        timer.start();
        service.stopDiscover();
        QVERIFY2(timer.elapsed() < 100, qPrintable(QString::number(timer.elapsed()) + " ms"));
        QTest::qWait(100);
        QCOMPARE(reports.countNamed(instance), 0);
        return;
    }
    // Instances of earlier cases may still be withdrawing: look for this one by name.
    QTRY_COMPARE_WITH_TIMEOUT(reports.countNamed(report.at(3)), 1, 15000);
    service.stopDiscover();
    const auto got = std::find_if(reports.found.begin(), reports.found.end(),
                                  [&](const auto &r) { return r.name == report.at(3); });
    QCOMPARE((QStringList { got->ip, got->mac, got->fw, got->name }), report);
    QVERIFY(reports.warnings.empty());
    QCOMPARE(
        LogCapture::take().filter("ServiceResolveCallBack called! " + report.at(0) + ",").size(),
        1);
}

void TestMdnsBrowse::secondStartStartsNothingNew()
{
    Announcements announcements;
    QVERIFY(announcements.address("cam7.local", lanAddress(27)));
    LogCapture::take();
    BonjourWinService service(nullptr);
    ServiceReports reports(&service);
    service.startDiscover();
    QTRY_COMPARE_WITH_TIMEOUT(LogCapture::count(kStarted), 1, 5000);
    service.startDiscover();
    QVERIFY(announcements.service("Cam7", "cam7.local", { "MAC=00:11:22:33:44:77" }));
    // A second browse would report the instance a second time.
    QTRY_COMPARE_WITH_TIMEOUT(reports.countNamed("Cam7"), 1, 5000);
    QTest::qWait(500);
    service.stopDiscover();
    QCOMPARE(reports.countNamed("Cam7"), 1);
    QCOMPARE(LogCapture::count(kStarted), 1);
}

void TestMdnsBrowse::stopWithoutBrowseOnlyLogs()
{
    LogCapture::take();
    BonjourWinService service(nullptr);
    ServiceReports reports(&service);
    service.stopDiscover();
    QTest::qWait(50);
    QCOMPARE(LogCapture::take(), QStringList { "BonjourWinService stopDiscover" });
    QVERIFY(reports.found.empty() && reports.warnings.empty());
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
        QTRY_COMPARE_WITH_TIMEOUT(LogCapture::count(kStarted), 1, 5000);
        QTest::qWait(200);
    }
    QElapsedTimer timer;
    timer.start();
    service.stopDiscover();
    QVERIFY2(timer.elapsed() < 100, qPrintable(QString::number(timer.elapsed()) + " ms"));
    // The library's sockets and threads are gone: the connection was released.
    QTRY_VERIFY_WITH_TIMEOUT(entriesIn("/proc/self/fd") <= fds, 1000);
    QTRY_VERIFY_WITH_TIMEOUT(entriesIn("/proc/self/task") <= threads, 1000);
    service.shutdown(); // nothing left to release a second time
}

void TestMdnsBrowse::answeredAndFailedResolvesEnd()
{
    BonjourWinService service(nullptr);
    ServiceReports reports(&service);
    LogCapture::take();
    service.startDiscover();
    QTRY_COMPARE_WITH_TIMEOUT(LogCapture::count(kStarted), 1, 5000);
    QTest::qWait(200);
    const int threads = entriesIn("/proc/self/task");
    constexpr int kDevices = 12;
    // Instances of earlier cases may still be withdrawing.
    const auto many = [&] {
        return int(std::count_if(reports.found.begin(), reports.found.end(),
                                 [](const auto &r) { return r.name.startsWith("Many"); }));
    };
    {
        Announcements announcements;
        QVERIFY(announcements.address("many.local", lanAddress(40)));
        for (int i = 0; i < kDevices; ++i) {
            QVERIFY(announcements.service(QString("Many%1").arg(i), "many.local",
                                          { QString("MAC=00:11:22:33:45:%1").arg(i + 10) }));
        }
        QTRY_COMPARE_WITH_TIMEOUT(many(), kDevices, 10000);
        // Each pending resolve holds a thread and a daemon connection in the library: on a
        // large network they must not outlive their answers.
        QTRY_VERIFY_WITH_TIMEOUT(entriesIn("/proc/self/task") <= threads + 1, 2000);
    }
    // The withdrawals are browse replies too; the resolves they start fail, and a failed
    // resolve is no device.
    QTRY_VERIFY_WITH_TIMEOUT(LogCapture::count("Bonjour resolve error occurred: -65537") >= 1,
                             10000);
    QTest::qWait(200);
    service.stopDiscover();
    QCOMPARE(many(), kDevices);
}

QTEST_GUILESS_MAIN(TestMdnsBrowse)
#include "tst_mdnsbrowse.moc"
