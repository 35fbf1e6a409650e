// The real Controller with its real discovery service, sweeping the simulated LAN of
// controller.lan: which devices become rows, with what, in which order, and how a stop ends it.
#include "tests/common/announcements.h"
#include "tests/common/controllerfixture.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include <memory>

namespace {
struct Row
{
    QString ip, mac, fw, name;
    bool operator==(const Row &o) const
    {
        return ip == o.ip && mac == o.mac && fw == o.fw && name == o.name;
    }
};

char *toString(const Row &row)
{
    return qstrdup(qPrintable(QStringLiteral("(%1 | %2 | %3 | %4)")
                                  .arg(row.ip, row.mac, row.fw, row.name.toHtmlEscaped())));
}

// Records deviceFound rows and arpScanDone in the order they arrive.
class Recorder : public QObject
{
public:
    explicit Recorder(Controller *controller)
    {
        connect(controller, &Controller::deviceFound, this,
                [this](QString ip, QString mac, QString fw, QString name) {
                    events << QStringLiteral("row ") + ip;
                    rows << Row { ip, mac, fw, name };
                });
        connect(controller, &Controller::arpScanDone, this, [this] { events << "done"; });
    }
    int doneCount() const { return events.count("done"); }
    Row rowFor(const QString &ip) const
    {
        for (const Row &row : rows) {
            if (row.ip == ip) {
                return row;
            }
        }
        return Row {};
    }
    QStringList ips() const
    {
        QStringList list;
        for (const Row &row : rows) {
            list << row.ip;
        }
        list.sort();
        return list;
    }
    QStringList events;
    QList<Row> rows;
};

const QString kCam10 = "198.18.0.10";
const QString kLobby = "198.18.0.11";
const QString kNoName = "198.18.0.12";
const QString kTextPlain = "198.18.0.13";
const QString kUtf8 = "198.18.0.14";
const QString kSilent = "198.18.0.15";
} // namespace

class TestControllerScan : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void arpScanReportsVendorDevices();
    void httpProbeScanAndStoredDefault();
    void stopDuringSweepReportsIncompleteFirst();
    void stopBeforeTheSweepStarts();
    void mdnsScan();
    void identify_data();
    void identify();

private:
    QString m_scannerIp;
    std::unique_ptr<ControllerFixture> m_fixture;
    Controller *m_controller = nullptr;
};

void TestControllerScan::initTestCase()
{
    m_scannerIp = ControllerFixture::lanScannerIp();
    if (m_scannerIp.isEmpty()) {
        QSKIP("needs the simulated LAN: run through tools/simlan/simlan.sh run controller.lan");
    }
}

void TestControllerScan::init()
{
    m_fixture.reset(new ControllerFixture);
    m_controller = m_fixture->controller();
    QVERIFY(m_controller->getNetworkList().contains(m_scannerIp));
}

void TestControllerScan::cleanup()
{
    m_fixture.reset();
    m_controller = nullptr;
}

void TestControllerScan::arpScanReportsVendorDevices()
{
    Recorder recorder(m_controller);
    QCOMPARE(m_controller->getArpProgress(), 0);
    QElapsedTimer clock;
    clock.start();
    m_controller->startDiscover(m_scannerIp, 1);
    QCOMPARE(m_controller->getArpProgress(), 0);

    int lastRowMs = -1;
    int lastRowCount = 0;
    while (recorder.doneCount() == 0 && clock.elapsed() < 15000) {
        const int progress = m_controller->getArpProgress();
        QVERIFY2(progress >= 0 && progress <= 100, qPrintable(QString::number(progress)));
        QTest::qWait(20);
        if (recorder.rows.size() != lastRowCount) {
            lastRowCount = recorder.rows.size();
            lastRowMs = int(clock.elapsed());
        }
    }
    const int doneMs = int(clock.elapsed());
    QCOMPARE(recorder.doneCount(), 1);
    qInfo("ARP scan: last row after %d ms, arpScanDone after %d ms", lastRowMs, doneMs);
    QCOMPARE(m_controller->getArpProgress(), 100);

    // Exactly the vendor devices, each once; the non-vendor hosts never.
    QCOMPARE(recorder.ips(), (QStringList { kCam10, kLobby, kNoName, kTextPlain, kUtf8, kSilent }));
    QCOMPARE(recorder.rowFor(kCam10), (Row { kCam10, "02-06-00-00-00-10", "1.0.10", "Cam 10" }));
    QCOMPARE(recorder.rowFor(kLobby),
             (Row { kLobby, "D0-C8-00-00-00-11", "2.1\r", "Lobby Encoder" }));
    QCOMPARE(recorder.rowFor(kNoName), (Row { kNoName, "08-EA-40-00-00-12", "3.0", "" }));
    QCOMPARE(recorder.rowFor(kUtf8),
             (Row { kUtf8, "02-06-00-00-00-14", "4.0", QString::fromUtf8("Café ★ Nord") }));
    // Incomplete records come at the end of the sweep, in address text order, then the end.
    QCOMPARE(recorder.events.mid(recorder.events.size() - 3),
             (QStringList { "row " + kTextPlain, "row " + kSilent, "done" }));
    QCOMPARE(recorder.rowFor(kTextPlain), (Row { kTextPlain, "0C-8C-24-00-00-13", "", "" }));
    QCOMPARE(recorder.rowFor(kSilent), (Row { kSilent, "D0-C8-00-00-00-15", "", "" }));

    // Replies that come late do not add rows after the end.
    QTest::qWait(300);
    QCOMPARE(recorder.rows.size(), 6);
}

void TestControllerScan::httpProbeScanAndStoredDefault()
{
    Recorder recorder(m_controller);
    m_controller->startDiscover(m_scannerIp, 2);
    QTRY_COMPARE_WITH_TIMEOUT(recorder.doneCount(), 1, 15000);
    // Only devices whose /public/macAddress reply is accepted: not the text/plain one, not the
    // silent one, and not the other vendor's.
    QCOMPARE(recorder.ips(), (QStringList { kCam10, kLobby, kNoName, kUtf8 }));
    QCOMPARE(recorder.rowFor(kLobby).mac, QStringLiteral("D0-C8-00-00-00-11"));
    QCOMPARE(recorder.rowFor(kUtf8).name, QString::fromUtf8("Café ★ Nord"));
    QCOMPARE(recorder.events.last(), QStringLiteral("done"));

    // An address that is not this machine's: the /24 default is stored and used again.
    const QString foreign = "198.18.0.200";
    QVERIFY(!m_controller->getNetworkList().contains(foreign));
    Recorder second(m_controller);
    m_controller->startDiscover(foreign, 2);
    QVERIFY(m_controller->getNetworkList().contains(foreign));
    QTRY_COMPARE_WITH_TIMEOUT(second.doneCount(), 1, 15000);
    QCOMPARE(second.ips(), (QStringList { kCam10, kLobby, kNoName, kUtf8 }));
}

void TestControllerScan::stopDuringSweepReportsIncompleteFirst()
{
    Recorder recorder(m_controller);
    m_controller->startDiscover(m_scannerIp, 1);
    // The four devices that answer over HTTP are complete long before the silent addresses of
    // the /24 have been given up on.
    QTRY_COMPARE_WITH_TIMEOUT(recorder.rows.size(), 4, 5000);
    QCOMPARE(recorder.doneCount(), 0);

    QElapsedTimer clock;
    clock.start();
    m_controller->stopDiscover(1);
    const qint64 stopMs = clock.elapsed();
    qInfo("stopDiscover(1) mid-sweep returned after %lld ms", stopMs);
    QVERIFY2(stopMs < 300, qPrintable(QString::number(stopMs)));
    // Everything arrived inside the call.
    QCOMPARE(recorder.events.mid(4),
             (QStringList { "row " + kTextPlain, "row " + kSilent, "done" }));
    QTest::qWait(500);
    QCOMPARE(recorder.doneCount(), 1);
}

void TestControllerScan::stopBeforeTheSweepStarts()
{
    Recorder recorder(m_controller);
    m_controller->startDiscover(m_scannerIp, 1);
    m_controller->stopDiscover(1);
    QCOMPARE(recorder.events, QStringList { "done" });
    // The pending start cannot be cancelled: the sweep still runs and ends by itself.
    QTRY_COMPARE_WITH_TIMEOUT(recorder.doneCount(), 2, 15000);
    QCOMPARE(recorder.ips(), (QStringList { kCam10, kLobby, kNoName, kTextPlain, kUtf8, kSilent }));
}

void TestControllerScan::mdnsScan()
{
    if (!Announcements::daemonAvailable()) {
        QSKIP("needs the test avahi-daemon (tools/simlan/with-avahi.sh)");
    }
    Announcements announcements;
    QVERIFY(announcements.address("cam10.local", kCam10));
    QVERIFY(announcements.address("other.local", "198.18.0.51"));
    // Two instances on the same address, whichever resolves first: firmware and names that
    // contain "NULL" anywhere are emptied.
    QVERIFY(announcements.service("NULLCam", "cam10.local",
                                  { "MAC=02:06:00:00:00:10", "FW=NULL", "Code=7" }));
    QVERIFY(announcements.service("Cam NULL second", "cam10.local",
                                  { "MAC=02:06:00:00:00:10", "FW=1.xNULLx" }));
    QVERIFY(announcements.service("Other", "other.local", { "MAC=00:11:22:33:44:66", "FW=1" }));

    Recorder recorder(m_controller);
    QElapsedTimer clock;
    clock.start();
    m_controller->startDiscover(m_scannerIp, 3);
    QTRY_COMPARE_WITH_TIMEOUT(recorder.rows.size(), 1, 5000);
    qInfo("mDNS: first row after %lld ms", clock.elapsed());
    QTest::qWait(1500);
    m_controller->stopDiscover(3);
    QTest::qWait(200);

    QCOMPARE(recorder.rows.size(), 1);
    const Row row = recorder.rows.first();
    QCOMPARE(row.ip, kCam10);
    QCOMPARE(row.mac, QStringLiteral("02-06-00-00-00-10"));
    QCOMPARE(row.fw, QString());
    QCOMPARE(row.name, QString());
    QCOMPARE(recorder.doneCount(), 0);
}

void TestControllerScan::identify_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("sent");
    QTest::addColumn<int>("minMs");
    QTest::addColumn<int>("maxMs");
    QTest::newRow("listening encoder") << kCam10 << true << 0 << 1000;
    QTest::newRow("refused") << "198.18.0.50" << false << 0 << 1000;
    QTest::newRow("drops everything") << "198.18.0.99" << false << 4500 << 6500;
    QTest::newRow("empty") << "" << false << 0 << 100;
    QTest::newRow("host name") << "cam10.local" << false << 0 << 100;
}

void TestControllerScan::identify()
{
    QFETCH(QString, address);
    QFETCH(bool, sent);
    QFETCH(int, minMs);
    QFETCH(int, maxMs);
    if (address == "198.18.0.99") {
        // A neighbour entry for a MAC nobody owns: every packet to it is lost on the LAN.
        QCOMPARE(
            QProcess::execute("ip",
                              { "neigh", "replace", address, "lladdr", "02:00:5e:00:00:99", "dev",
                                qEnvironmentVariable("LUMISWEEP_LAN_IFACE"), "nud", "permanent" }),
            0);
    }
    const QString lanDir = qEnvironmentVariable("LUMISWEEP_LAN_DIR");
    QFile received(lanDir + "/identify-" + kCam10 + ".bin");
    const qint64 before = received.size();

    QElapsedTimer clock;
    clock.start();
    QCOMPARE(m_controller->indicateDevice(address), sent);
    const qint64 ms = clock.elapsed();
    QVERIFY2(ms >= minMs && ms <= maxMs, qPrintable(QString::number(ms)));
    if (sent) {
        QTRY_COMPARE(received.size(), before + 21);
        QVERIFY(received.open(QIODevice::ReadOnly));
        received.seek(before);
        QCOMPARE(received.readAll(), QByteArray("c0cmdset_identify-led"));
        // The encoder sees the connection closed after exactly those bytes.
        const QString logName = lanDir + "/sim-" + kCam10 + ".log";
        const QByteArray closed
            = "identify close from " + m_scannerIp.toLatin1() + " after 21 bytes";
        const auto logSays = [&] {
            QFile log(logName);
            return log.open(QIODevice::ReadOnly) && log.readAll().contains(closed);
        };
        QTRY_VERIFY(logSays());
    }
}

QTEST_MAIN(TestControllerScan)
#include "tst_controllerscan.moc"
