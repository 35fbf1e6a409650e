// The window with the real Controller inside a simulated LAN, from a click on Scan to the
// finished table. Run only through simlan.sh: the test refuses any other network.
#include "windowharness.h"

#include "controller/controller.h"
#include "controller/vendorprefix.h"
#include "tests/common/announcements.h"

#include <QElapsedTimer>
#include <QFile>
#include <QNetworkInterface>
#include <QProcess>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <memory>
#include <vector>

namespace {
const QString kImages = QStringLiteral("qrc:/desktop/img/");
constexpr int kSweepTimeoutMs = 30000;
constexpr int kQuitLimitMs = 1000;

struct SimulatedDevice
{
    QString ip;
    QString mac;
};

// The encoders of the topology whose MAC passes the vendor test, in the table's text order.
std::vector<SimulatedDevice> expectedDevices()
{
    std::vector<SimulatedDevice> devices;
    QFile file(qEnvironmentVariable("WINDOW_LAN_TOPOLOGY"));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        return devices;
    }
    while (!file.atEnd()) {
        const QStringList words
            = QString::fromUtf8(file.readLine()).simplified().split(QLatin1Char(' '));
        if (words.size() >= 3 && words.at(0) == QLatin1String("device")
            && VendorPrefix::matches(words.at(2))) {
            devices.push_back({ words.at(1).section(QLatin1Char('/'), 0, 0), words.at(2) });
        }
    }
    std::sort(devices.begin(), devices.end(),
              [](const SimulatedDevice &a, const SimulatedDevice &b) { return a.ip < b.ip; });
    return devices;
}

QStringList addressesOf(const std::vector<SimulatedDevice> &devices)
{
    QStringList addresses;
    for (const SimulatedDevice &device : devices) {
        addresses.append(device.ip);
    }
    return addresses;
}

} // namespace

class TestWindowLan : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void sweepFromTheWindow_data();
    void sweepFromTheWindow();
    void newScanEmptiesTheTable();
    void stopDuringSweep();
    void stopRightAfterScan();
    void stopWithNothingFound();
    void mdnsScanFromTheWindow();
    void quitDuringSweep();

private:
    QStringList statusTexts() const;
    void startScan(const QString &radio);

    QTemporaryDir m_dataHome;
    std::unique_ptr<WindowHarness> m_harness;
    std::unique_ptr<QSignalSpy> m_statusSpy;
};

void TestWindowLan::initTestCase()
{
    const QString iface = qEnvironmentVariable("LUMISWEEP_LAN_IFACE");
    if (iface.isEmpty() || WindowHarness::lanScannerAddress().isEmpty()) {
        QFAIL("run through tools/simlan/simlan.sh");
    }
    // Only loopback and the test LAN may be here, or a sweep could leave it.
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &networkInterface : interfaces) {
        const bool allowed = networkInterface.name() == iface
            || networkInterface.flags().testFlag(QNetworkInterface::IsLoopBack);
        QVERIFY2(allowed, qPrintable("unexpected interface " + networkInterface.name()));
    }
    QVERIFY(m_dataHome.isValid());
    qputenv("XDG_DATA_HOME", m_dataHome.path().toLocal8Bit());
}

void TestWindowLan::init()
{
    m_harness.reset(new WindowHarness);
    QVERIFY(m_harness->isLoaded());
    QCOMPARE(m_harness->editText(), WindowHarness::lanScannerAddress());
    m_statusSpy.reset(new QSignalSpy(m_harness->object(QStringLiteral("textInfo")),
                                     SIGNAL(textChanged(QString))));
}

void TestWindowLan::cleanup()
{
    m_statusSpy.reset();
    m_harness.reset();
}

QStringList TestWindowLan::statusTexts() const
{
    QStringList texts;
    for (const QList<QVariant> &arguments : *m_statusSpy) {
        texts.append(arguments.at(0).toString());
    }
    return texts;
}

void TestWindowLan::startScan(const QString &radio)
{
    m_harness->click(radio);
    QVERIFY(m_harness->clickScan());
    QCOMPARE(m_harness->scanStatus(), 1);
    QCOMPARE(m_harness->imageOf(QStringLiteral("btnScan")), kImages + "Scan.nomal.png");
    QCOMPARE(m_harness->imageOf(QStringLiteral("btnStop")), kImages + "Stop.over.png");
}

void TestWindowLan::sweepFromTheWindow_data()
{
    QTest::addColumn<QString>("radio");
    QTest::addColumn<int>("scanType");
    QTest::addColumn<QString>("startText");

    QTest::newRow("ARP") << "radioArp" << 1 << "Info: ARP Scanning...";
    QTest::newRow("Http Download") << "radioHttp" << 2 << "Info: Http Downloading...";
}

void TestWindowLan::sweepFromTheWindow()
{
    QFETCH(QString, radio);
    QFETCH(int, scanType);
    QFETCH(QString, startText);

    const std::vector<SimulatedDevice> devices = expectedDevices();
    QVERIFY(!devices.empty());
    startScan(radio);
    QCOMPARE(m_harness->status(), startText);

    // While the sweep runs, the radios and a second Scan change nothing.
    QTRY_VERIFY_WITH_TIMEOUT(m_harness->tableRowCount() > 0, kSweepTimeoutMs);
    QVERIFY2(m_harness->scanStatus() == 1, "the sweep ended too early to be watched");
    const int rowsSoFar = m_harness->tableRowCount();
    m_harness->click(QStringLiteral("radioMdns"));
    QCOMPARE(m_harness->scanType(), scanType);
    QVERIFY(m_harness->clickScan());
    // More rows may arrive meanwhile; a Scan that went through would have emptied the table.
    QVERIFY(m_harness->tableRowCount() >= rowsSoFar);
    QCOMPARE(m_harness->scanStatus(), 1);

    QTRY_COMPARE_WITH_TIMEOUT(m_harness->scanStatus(), 0, kSweepTimeoutMs);
    QTRY_COMPARE(m_harness->tableRowCount(), int(devices.size()));
    QCOMPARE(m_harness->column("ip"), addressesOf(devices));
    QCOMPARE(m_harness->column("name").count(QStringLiteral("<b>Gate</b>")), 1);
    QCOMPARE(m_harness->status(), QStringLiteral("Info: %1 Devices Found!").arg(devices.size()));
    QCOMPARE(m_harness->imageOf(QStringLiteral("btnScan")), kImages + "Scan.over.png");
    QCOMPARE(m_harness->imageOf(QStringLiteral("btnStop")), kImages + "Stop.nomal.png");

    const QStringList texts = statusTexts();
    QCOMPARE(texts.value(0), startText);
    const QRegularExpression tick(
        QStringLiteral("^Info: Scanning (\\d+) Sec \\.\\.\\.\\. (\\d+)%$"));
    const QStringList ticks = texts.filter(tick);
    QVERIFY2(!ticks.isEmpty(), qPrintable(texts.join(QLatin1String(" | "))));
    QCOMPARE(tick.match(ticks.first()).captured(1), QStringLiteral("1"));
    for (const QString &text : ticks) {
        QVERIFY(tick.match(text).captured(2).toInt() <= 100);
    }
}

void TestWindowLan::newScanEmptiesTheTable()
{
    startScan(QStringLiteral("radioArp"));
    QTRY_COMPARE_WITH_TIMEOUT(m_harness->scanStatus(), 0, kSweepTimeoutMs);
    QTRY_VERIFY(m_harness->tableRowCount() > 0);
    m_harness->clickAt(m_harness->rowPoint(0));
    QVERIFY(!m_harness->openDeviceURL().isEmpty());

    QVERIFY(m_harness->clickScan());
    QCOMPARE(m_harness->column("ip"), QStringList());
    QCOMPARE(m_harness->openDeviceURL(), QString());
    QTRY_COMPARE_WITH_TIMEOUT(m_harness->scanStatus(), 0, kSweepTimeoutMs);
    QTRY_COMPARE(m_harness->tableRowCount(), int(expectedDevices().size()));
}

void TestWindowLan::stopDuringSweep()
{
    startScan(QStringLiteral("radioArp"));
    // The first tick comes after the sweep has started.
    QTRY_VERIFY_WITH_TIMEOUT(m_harness->status().startsWith(QLatin1String("Info: Scanning")), 5000);
    m_harness->click(QStringLiteral("radioHttp"));
    m_harness->click(QStringLiteral("btnStop"));

    QCOMPARE(m_harness->scanStatus(), 0);
    QCOMPARE(m_harness->scanType(), 1);
    // Records still incomplete are listed inside the stop, so the count includes them.
    QCOMPARE(m_harness->status(),
             QStringLiteral("Info: %1 Devices Found!").arg(m_harness->column("ip").size()));
    const QString stopped = m_harness->status();
    QTest::qWait(2500);
    QCOMPARE(m_harness->status(), stopped);
    QCOMPARE(m_harness->scanStatus(), 0);
}

void TestWindowLan::stopRightAfterScan()
{
    // Stop before the delayed sweep start: that start cannot be called off, so the sweep still
    // runs; its rows and its end reach the window, which stays idle throughout.
    const int expected = int(expectedDevices().size());
    QVERIFY(expected > 0);
    startScan(QStringLiteral("radioArp"));
    m_harness->click(QStringLiteral("btnStop"));
    QCOMPARE(m_harness->scanStatus(), 0);
    QCOMPARE(m_harness->status(), QStringLiteral("Info: 0 Devices Found!"));
    QTRY_COMPARE_WITH_TIMEOUT(m_harness->tableRowCount(), expected, kSweepTimeoutMs);
    QTRY_COMPARE_WITH_TIMEOUT(m_harness->status(),
                              QStringLiteral("Info: %1 Devices Found!").arg(expected),
                              kSweepTimeoutMs);
    QCOMPARE(m_harness->scanStatus(), 0);
}

void TestWindowLan::stopWithNothingFound()
{
    if (!expectedDevices().empty()) {
        QSKIP("needs a LAN without encoders");
    }
    startScan(QStringLiteral("radioArp"));
    QTRY_VERIFY_WITH_TIMEOUT(m_harness->status().startsWith(QLatin1String("Info: Scanning")), 5000);
    m_harness->click(QStringLiteral("btnStop"));
    QCOMPARE(m_harness->status(), QStringLiteral("Info: 0 Devices Found!"));
    QCOMPARE(m_harness->scanStatus(), 0);
}

void TestWindowLan::mdnsScanFromTheWindow()
{
    if (qEnvironmentVariableIsEmpty("DBUS_SYSTEM_BUS_ADDRESS")) {
        QSKIP("needs tools/simlan/with-avahi.sh");
    }
    Announcements announcements;
    QVERIFY(announcements.address("cam31.local", "198.18.0.31"));
    QVERIFY(announcements.address("cam32.local", "198.18.0.32"));
    QVERIFY(announcements.service("Cam31", "cam31.local", { "MAC=02:06:00:00:00:31", "FW=3.1" }));
    QVERIFY(announcements.service("Cam32", "cam32.local", { "MAC=d0:c8:57:00:00:32", "FW=3.2" }));

    startScan(QStringLiteral("radioMdns"));
    QCOMPARE(m_harness->status(), QStringLiteral("Info: mDNS Scanning..."));
    QTRY_COMPARE_WITH_TIMEOUT(m_harness->tableRowCount(), 2, 10000);
    QCOMPARE(m_harness->column("ip"), (QStringList { "198.18.0.31", "198.18.0.32" }));
    // The announcement's own MAC text, separators made dashes.
    QCOMPARE(m_harness->column("mac"), (QStringList { "02-06-00-00-00-31", "d0-c8-57-00-00-32" }));
    QCOMPARE(m_harness->column("fw"), (QStringList { "3.1", "3.2" }));
    QCOMPARE(m_harness->column("name"), (QStringList { "Cam31", "Cam32" }));
    QCOMPARE(m_harness->status(), QStringLiteral("Info: 2 Devices Found!"));

    // A browse has no end of its own and no progress: it runs until Stop.
    QTest::qWait(1500);
    QCOMPARE(m_harness->scanStatus(), 1);
    QVERIFY(statusTexts().filter(QStringLiteral("Scanning ")).isEmpty());
    m_harness->click(QStringLiteral("btnStop"));
    QCOMPARE(m_harness->scanStatus(), 0);
    QCOMPARE(m_harness->status(), QStringLiteral("Info: 2 Devices Found!"));
}

void TestWindowLan::quitDuringSweep()
{
    startScan(QStringLiteral("radioArp"));
    QTRY_VERIFY_WITH_TIMEOUT(m_harness->status().startsWith(QLatin1String("Info: Scanning")), 5000);
    QSignalSpy quit(m_harness->engine(), &QQmlEngine::quit);
    m_harness->click(QStringLiteral("btnClose"));
    QCOMPARE(quit.count(), 1);

    // The program's own order after the loop: end the scan, then destroy the engine.
    QElapsedTimer timer;
    timer.start();
    m_statusSpy.reset();
    m_harness.reset();
    QVERIFY2(timer.elapsed() < kQuitLimitMs,
             qPrintable(QStringLiteral("%1 ms").arg(timer.elapsed())));
}

QTEST_MAIN(TestWindowLan)
#include "tst_windowlan.moc"
