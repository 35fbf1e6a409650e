// Start and stop each scan type at random moments, many times over, then check that one clean
// scan still finds every device and that nothing was left behind: threads, memory, stalls.
#include "tests/common/announcements.h"
#include "tests/common/controllerfixture.h"
#include "processprobe.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>

#include <memory>

namespace {
const QStringList kDevices { "198.18.0.10", "198.18.0.11", "198.18.0.12", "198.18.0.13" };

int cyclesPerType()
{
    // Sanitizer builds run slower; they may ask for fewer cycles.
    const int asked = qEnvironmentVariableIntValue("LUMISWEEP_STRESS_CYCLES");
    return asked > 0 ? asked : 200;
}
} // namespace

class TestStartStopStress : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void randomStops_data();
    void randomStops();
    void cleanScanAfterwards();

private:
    QStringList rowsOfOneScan(int scanType);

    QString m_scannerIp;
    std::unique_ptr<ControllerFixture> m_fixture;
    Controller *m_controller = nullptr;
    std::unique_ptr<ProcessProbe> m_probe;
    Announcements m_announcements;
    int m_threadsAtStart = 0;
};

void TestStartStopStress::initTestCase()
{
    m_scannerIp = ControllerFixture::lanScannerIp();
    if (m_scannerIp.isEmpty()) {
        QSKIP("needs the simulated LAN: run through tools/simlan/simlan.sh run stress.lan");
    }
    if (Announcements::daemonAvailable()) {
        QVERIFY(m_announcements.address("cam10.local", "198.18.0.10"));
        QVERIFY(m_announcements.service("Cam10", "cam10.local",
                                        { "MAC=02:06:00:00:00:10", "FW=1.0", "Code=1" }));
    }
    m_fixture.reset(new ControllerFixture);
    m_controller = m_fixture->controller();
    // One scan of each kind first, so that Qt's own lazily started threads are counted in.
    QCOMPARE(rowsOfOneScan(1), kDevices);
    QCOMPARE(rowsOfOneScan(2), kDevices);
    QTest::qWait(500);
    m_threadsAtStart = ProcessProbe::threadCount();
    m_probe.reset(new ProcessProbe);
}

void TestStartStopStress::cleanupTestCase()
{
    m_fixture.reset();
}

QStringList TestStartStopStress::rowsOfOneScan(int scanType)
{
    QStringList rows;
    if (scanType == 3) {
        // A browse has no end of its own: give it time, then stop it.
        auto connection = connect(m_controller, &Controller::deviceFound, this,
                                  [&rows](QString ip) { rows << ip; });
        m_controller->startDiscover(m_scannerIp, 3);
        QTest::qWait(1500);
        m_controller->stopDiscover(3);
        disconnect(connection);
        return rows;
    }
    QSignalSpy done(m_controller, SIGNAL(arpScanDone()));
    auto connection = connect(m_controller, &Controller::deviceFound, this,
                              [&rows](QString ip) { rows << ip; });
    m_controller->startDiscover(m_scannerIp, scanType);
    done.wait(10000);
    disconnect(connection);
    rows.sort();
    rows.removeDuplicates();
    return rows;
}

void TestStartStopStress::randomStops_data()
{
    QTest::addColumn<int>("scanType");
    QTest::newRow("ARP") << 1;
    QTest::newRow("Http Download") << 2;
    QTest::newRow("mDNS") << 3;
}

void TestStartStopStress::randomStops()
{
    QFETCH(int, scanType);
    if (scanType == 3 && !Announcements::daemonAvailable()) {
        QSKIP("mDNS cycles need the test avahi-daemon (tools/simlan/with-avahi.sh)");
    }
    QRandomGenerator random(20261206 + scanType);
    QSignalSpy done(m_controller, SIGNAL(arpScanDone()));
    QElapsedTimer total;
    total.start();
    qint64 slowestStopMs = 0;
    const int cycles = cyclesPerType();
    for (int cycle = 0; cycle < cycles; ++cycle) {
        m_controller->startDiscover(m_scannerIp, scanType);
        // A third before the delayed start, a third mid-sweep, a third around or after the end.
        const int band = random.bounded(3);
        const int waitMs = band == 0 ? random.bounded(300)
            : band == 1              ? 300 + random.bounded(400)
                                     : 700 + random.bounded(700);
        QTest::qWait(scanType == 3 ? waitMs / 4 : waitMs);

        const int before = done.count();
        QElapsedTimer stop;
        stop.start();
        m_controller->stopDiscover(scanType);
        slowestStopMs = qMax(slowestStopMs, stop.elapsed());
        // A sweep stop reports the end once, inside the call; an mDNS stop never does.
        QCOMPARE(done.count() - before, scanType == 3 ? 0 : 1);
    }
    qInfo("%d cycles of scan type %d in %lld ms; slowest stop %lld ms; longest GUI stall %lld ms",
          cycles, scanType, total.elapsed(), slowestStopMs, m_probe->longestStallMs());
    QVERIFY2(slowestStopMs < 300, qPrintable(QString::number(slowestStopMs)));
}

void TestStartStopStress::cleanScanAfterwards()
{
    // Let the sweeps that were still pending behind their delayed start run out.
    QTest::qWait(2500);
    QCOMPARE(rowsOfOneScan(1), kDevices);
    QCOMPARE(rowsOfOneScan(2), kDevices);
    if (Announcements::daemonAvailable()) {
        QCOMPARE(rowsOfOneScan(3), QStringList { "198.18.0.10" });
    }
    QTest::qWait(500);
    const int threads = ProcessProbe::threadCount();
    qInfo("threads: %d before the cycles, %d after; peak RSS %lld MiB; longest GUI stall %lld ms",
          m_threadsAtStart, threads, ProcessProbe::peakRssMiB(), m_probe->longestStallMs());
    QVERIFY2(threads <= m_threadsAtStart, qPrintable(QString::number(threads)));
    QVERIFY(ProcessProbe::peakRssMiB() < ProcessProbe::memoryLimitMiB());
    QVERIFY2(m_probe->longestStallMs() <= ProcessProbe::stallLimitMs(),
             qPrintable(QString::number(m_probe->longestStallMs())));
}

QTEST_MAIN(TestStartStopStress)
#include "tst_startstopstress.moc"
