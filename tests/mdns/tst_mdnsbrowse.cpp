// The mDNS browse of the discovery service against a real avahi-daemon: run it with
// with-avahi.sh inside a test LAN. Devices are announced by avahi-publish, one set per case.
#include "discovery/bonjourwinservice.h"
#include "servicereports.h"

#include <QtTest>

#include <QDir>
#include <mutex>
#include <QProcess>

#include <filesystem>
#include <memory>
#include <vector>

namespace {

// std::mutex rather than QMutex: a thread sanitizer sees the former.
std::mutex s_logMutex;
QStringList s_log;
QtMessageHandler s_previousHandler = nullptr;

void captureLog(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    {
        std::lock_guard<std::mutex> locker(s_logMutex);
        s_log.append(message);
    }
    s_previousHandler(type, context, message);
}

QStringList takeLog()
{
    std::lock_guard<std::mutex> locker(s_logMutex);
    return std::exchange(s_log, QStringList());
}

int logCount(const QString &line)
{
    std::lock_guard<std::mutex> locker(s_logMutex);
    return s_log.count(line);
}

int socketsOpen()
{
    int count = 0;
    for (const auto &entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        count
            += std::filesystem::read_symlink(entry.path(), error).string().rfind("socket:", 0) == 0;
    }
    return count;
}

int entriesIn(const char *folder)
{
    return QDir(QString::fromLatin1(folder))
        .entryList(QDir::AllEntries | QDir::NoDotAndDotDot)
        .size();
}

// An address on the test LAN next to the scanner's own.
QString lanAddress(int host)
{
    QString scanner
        = qEnvironmentVariable("LUMISWEEP_LAN_SCANNER_IP", QStringLiteral("198.18.0.1"));
    return scanner.left(scanner.lastIndexOf(QLatin1Char('.')) + 1) + QString::number(host);
}

// The avahi-publish processes of one case; they withdraw their records when they end.
class Announcements
{
public:
    ~Announcements()
    {
        for (auto &process : m_processes) {
            process->terminate();
            process->waitForFinished(2000);
        }
    }

    bool address(const QString &host, const QString &address)
    {
        return publish({ QStringLiteral("-a"), QStringLiteral("-R"), host, address });
    }

    bool service(const QString &name, const QString &host, const QStringList &txt)
    {
        return publish(QStringList { QStringLiteral("-s"), QStringLiteral("-H"), host, name,
                                     QStringLiteral("_encoder._tcp"), QStringLiteral("80") }
                       + txt);
    }

private:
    bool publish(const QStringList &arguments)
    {
        m_processes.push_back(std::make_unique<QProcess>());
        QProcess &process = *m_processes.back();
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(QStringLiteral("avahi-publish"), arguments);
        QByteArray output;
        QElapsedTimer timer;
        timer.start();
        while (!output.contains("Established under name") && timer.elapsed() < 5000) {
            if (!process.waitForReadyRead(200) && process.state() == QProcess::NotRunning) {
                break;
            }
            output += process.readAll();
        }
        if (!output.contains("Established under name")) {
            qWarning() << "avahi-publish" << arguments << "failed:" << output;
            return false;
        }
        return true;
    }

    std::vector<std::unique_ptr<QProcess>> m_processes;
};

const QString kStarted = QStringLiteral("Start successfully to run DNSServiceBrowse");

} // namespace

class TestMdnsBrowse : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void announcedDeviceIsReported_data();
    void announcedDeviceIsReported();
    void secondStartStartsNothingNew();
    void stopWithoutBrowseOnlyLogs();
    void stopIsPromptAndReleasesEverything_data();
    void stopIsPromptAndReleasesEverything();
    void stopDuringHostLookupIsPrompt();
    void withdrawnDeviceIsNotReported();
    void resolvesDoNotPileUp();
};

void TestMdnsBrowse::initTestCase()
{
    if (qEnvironmentVariableIsEmpty("DBUS_SYSTEM_BUS_ADDRESS")
        || qEnvironmentVariableIsEmpty("LUMISWEEP_LAN_IFACE")) {
        QFAIL("run through with-avahi.sh inside a test LAN");
    }
    s_previousHandler = qInstallMessageHandler(captureLog);
}

void TestMdnsBrowse::init()
{
    takeLog();
}

void TestMdnsBrowse::announcedDeviceIsReported_data()
{
    QTest::addColumn<QString>("instance");
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("hostRecord");
    QTest::addColumn<QStringList>("txt");
    QTest::addColumn<QString>("ip");
    QTest::addColumn<QString>("mac");
    QTest::addColumn<QString>("fw");
    QTest::addColumn<QString>("name");

    QTest::newRow("Cam1") << "Cam1"
                          << "cam1.local" << lanAddress(20)
                          << QStringList { "MAC=00:11:22:33:44:55", "FW=1.0.3", "Code=17" }
                          << lanAddress(20) << "00-11-22-33-44-55"
                          << "1.0.3"
                          << "Cam1";
    QTest::newRow("long MAC, no FW")
        << "Cam2"
        << "cam2.local" << lanAddress(21) << QStringList { "MAC=00:11:22:33:44:56:77:88" }
        << lanAddress(21) << "00-11-22-33-44-56"
        << ""
        << "Cam2";
    QTest::newRow("name with a space")
        << "Lobby Encoder"
        << "lobby.local" << lanAddress(22) << QStringList { "MAC=00:11:22:33:44:57", "FW=2.1" }
        << lanAddress(22) << "00-11-22-33-44-57"
        << "2.1"
        << "Lobby\\032Encoder";
    // An IPv6-only host: the daemon resolves the service, but the host has no IPv4 address.
    QTest::newRow("no IPv4 address, interface value")
        << "Cam3"
        << "cam3.local"
        << "fd00::23"
        << QStringList { "MAC=00:11:22:33:44:58", "FW=1.0", "interface=eth0:" + lanAddress(99) }
        << lanAddress(99) << "00-11-22-33-44-58"
        << "1.0"
        << "Cam3";
    QTest::newRow("no IPv4 address, no interface value")
        << "Cam4"
        << "cam4.local"
        << "fd00::24" << QStringList { "MAC=00:11:22:33:44:59" } << "0.0.0.0"
        << "00-11-22-33-44-59"
        << ""
        << "Cam4";
}

void TestMdnsBrowse::announcedDeviceIsReported()
{
    QFETCH(QString, instance);
    QFETCH(QString, host);
    QFETCH(QString, hostRecord);
    QFETCH(QStringList, txt);
    QFETCH(QString, ip);
    QFETCH(QString, mac);
    QFETCH(QString, fw);
    QFETCH(QString, name);

    Announcements announcements;
    QVERIFY(announcements.address(host, hostRecord));
    QVERIFY(announcements.service(instance, host, txt));

    BonjourWinService service(nullptr);
    ServiceReports reports(&service);
    service.startDiscover();
    // A host without an IPv4 address costs the resolver's own time limit (5 s for nss-mdns).
    QTRY_VERIFY_WITH_TIMEOUT(reports.countNamed(name) > 0, 15000);
    service.stopDiscover();

    const auto report
        = std::find_if(reports.found.begin(), reports.found.end(),
                       [&](const ServiceReports::Report &r) { return r.name == name; });
    QCOMPARE(report->ip, ip);
    QCOMPARE(report->mac, mac);
    QCOMPARE(report->fw, fw);
    QVERIFY(reports.warnings.empty());
    const QStringList log = takeLog();
    QVERIFY2(log.contains(" BrowserCallBack called! " + instance), qPrintable(log.join('\n')));
    QVERIFY2(log.filter("ServiceResolveCallBack called! " + ip + ",").size() >= 1,
             qPrintable(log.join('\n')));
}

void TestMdnsBrowse::secondStartStartsNothingNew()
{
    Announcements announcements;
    QVERIFY(announcements.address("cam7.local", lanAddress(27)));
    BonjourWinService service(nullptr);
    ServiceReports reports(&service);
    service.startDiscover();
    QTRY_COMPARE_WITH_TIMEOUT(logCount(kStarted), 1, 5000);
    service.startDiscover();
    QVERIFY(announcements.service("Cam7", "cam7.local", { "MAC=00:11:22:33:44:77" }));
    QTRY_VERIFY_WITH_TIMEOUT(reports.countNamed("Cam7") > 0, 5000);
    // A second browse would report the instance a second time.
    QTest::qWait(500);
    service.stopDiscover();
    QCOMPARE(reports.countNamed("Cam7"), 1);
    QCOMPARE(logCount(kStarted), 1);
}

void TestMdnsBrowse::stopWithoutBrowseOnlyLogs()
{
    BonjourWinService service(nullptr);
    ServiceReports reports(&service);
    service.stopDiscover();
    QCOMPARE(takeLog(), QStringList { "BonjourWinService stopDiscover" });
    QVERIFY(reports.found.empty());
    QVERIFY(reports.warnings.empty());
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
    QTRY_COMPARE_WITH_TIMEOUT(logCount(kStarted), 1, 5000);
    service.stopDiscover();
    const int fds = entriesIn("/proc/self/fd");
    const int threads = entriesIn("/proc/self/task");

    service.startDiscover();
    if (waitForBrowse) {
        QTRY_COMPARE_WITH_TIMEOUT(logCount(kStarted), 2, 5000);
        QTest::qWait(200);
    }
    QElapsedTimer timer;
    timer.start();
    service.stopDiscover();
    const qint64 elapsed = timer.elapsed();
    QVERIFY2(elapsed < 100, qPrintable(QString::number(elapsed) + " ms"));

    // The connection's sockets and the library's threads are gone: it was released.
    QTRY_VERIFY_WITH_TIMEOUT(entriesIn("/proc/self/fd") <= fds, 1000);
    QTRY_VERIFY_WITH_TIMEOUT(entriesIn("/proc/self/task") <= threads, 1000);
    // Nothing is left to release a second time.
    service.shutdown();
    service.stopDiscover();
}

void TestMdnsBrowse::stopDuringHostLookupIsPrompt()
{
    // The resolver spends its full time limit on a host without an IPv4 address.
    Announcements announcements;
    QVERIFY(announcements.address("cam8.local", "fd00::28"));
    QVERIFY(announcements.service("Cam8", "cam8.local", { "MAC=00:11:22:33:44:88" }));
    BonjourWinService service(nullptr);
    ServiceReports reports(&service);
    service.startDiscover();
    QTRY_COMPARE_WITH_TIMEOUT(logCount(" BrowserCallBack called! Cam8"), 1, 5000);
    QTest::qWait(300);

    QElapsedTimer timer;
    timer.start();
    service.stopDiscover();
    const qint64 elapsed = timer.elapsed();
    QVERIFY2(elapsed < 100, qPrintable(QString::number(elapsed) + " ms"));
    // The stop came before the address was known: no report with a made-up address.
    QTest::qWait(100);
    QCOMPARE(reports.countNamed("Cam8"), 0);
}

void TestMdnsBrowse::withdrawnDeviceIsNotReported()
{
    BonjourWinService service(nullptr);
    ServiceReports reports(&service);
    {
        Announcements announcements;
        QVERIFY(announcements.address("cam9.local", lanAddress(29)));
        QVERIFY(announcements.service("Cam9", "cam9.local", { "MAC=00:11:22:33:44:99" }));
        service.startDiscover();
        QTRY_COMPARE_WITH_TIMEOUT(reports.countNamed("Cam9"), 1, 5000);
    }
    // The withdrawal reaches the browse too; the resolves of the instance then fail.
    QTRY_VERIFY_WITH_TIMEOUT(logCount("Bonjour resolve error occurred: -65537") >= 1, 10000);
    QTest::qWait(200);
    service.stopDiscover();
    QCOMPARE(reports.found.size(), size_t(1));
}

void TestMdnsBrowse::resolvesDoNotPileUp()
{
    // Each pending resolve holds a thread and a daemon connection in the library; on a large
    // network they must not outlive their answers, or descriptors run out.
    BonjourWinService service(nullptr);
    ServiceReports reports(&service);
    service.startDiscover();
    QTRY_COMPARE_WITH_TIMEOUT(logCount(kStarted), 1, 5000);
    QTest::qWait(200);
    const int threads = entriesIn("/proc/self/task");
    const int sockets = socketsOpen();

    constexpr int kDevices = 12;
    Announcements announcements;
    QVERIFY(announcements.address("many.local", lanAddress(40)));
    for (int i = 0; i < kDevices; ++i) {
        QVERIFY(announcements.service(
            QStringLiteral("Many%1").arg(i), "many.local",
            { QStringLiteral("MAC=00:11:22:33:45:%1").arg(i, 2, 10, QLatin1Char('0')) }));
    }
    QTRY_COMPARE_WITH_TIMEOUT(reports.found.size(), size_t(kDevices), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(entriesIn("/proc/self/task") <= threads + 1, 2000);
    QVERIFY(socketsOpen() <= sockets + 3);
    service.stopDiscover();
}

QTEST_GUILESS_MAIN(TestMdnsBrowse)
#include "tst_mdnsbrowse.moc"
