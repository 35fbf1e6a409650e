// Each scan type started and stopped at random moments, again and again (LUMISWEEP_STRESS_CYCLES,
// 5 by default; CI runs 200), then one clean scan of each: it must still find every device, and
// nothing may be left behind.
#include "tests/common/testkit.h"

#include <QDir>
#include <QRandomGenerator>

namespace {
int threadCount()
{
    return QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot).size();
}
} // namespace

class TestStress : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void randomStops_data();
    void randomStops();
    void cleanScansAfterwards();

private:
    QStringList oneScan(int type);

    std::unique_ptr<ControllerFixture> m_ctrl;
    int m_threadsBefore = 0;
};

void TestStress::initTestCase()
{
    REQUIRE_LAN();
    m_ctrl.reset(new ControllerFixture);
    // One scan of each kind first, so that Qt's lazily started threads are counted in.
    for (int type : { 1, 2, 3 }) {
        oneScan(type);
    }
    QTest::qWait(500);
    m_threadsBefore = threadCount();
}

QStringList TestStress::oneScan(int type)
{
    SignalRecorder &scan = m_ctrl->scan;
    scan.lines.clear();
    (*m_ctrl)->startDiscover(Lan::scannerIp(), type);
    if (type == 3) {
        QTest::qWait(1500); // a browse has no end of its own
        (*m_ctrl)->stopDiscover(3);
    } else if (!QTest::qWaitFor(
                   [&] { return scan.count("done") && !(*m_ctrl)->pendingDeviceQueries(); },
                   20000)) {
        return { "the scan did not end" };
    }
    QStringList ips;
    for (const QString &line : scan.table()) {
        ips << line.section('|', 1, 1);
    }
    return ips;
}

void TestStress::randomStops_data()
{
    QTest::addColumn<int>("type");
    QTest::newRow("ARP") << 1;
    QTest::newRow("Http Download") << 2;
    QTest::newRow("mDNS") << 3;
}

void TestStress::randomStops()
{
    QFETCH(int, type);
    QRandomGenerator random(20261207 + type);
    const int asked = qEnvironmentVariableIntValue("LUMISWEEP_STRESS_CYCLES");
    for (int cycle = 0; cycle < (asked > 0 ? asked : 5); ++cycle) {
        (*m_ctrl)->startDiscover(Lan::scannerIp(), type);
        // Before the delayed start, mid-sweep, or around and after the end.
        QTest::qWait(random.bounded(type == 3 ? 400 : 1600));
        const int before = m_ctrl->scan.count("done");
        (*m_ctrl)->stopDiscover(type);
        // A sweep's stop reports the end once, inside the call; a browse's never.
        QCOMPARE(m_ctrl->scan.count("done") - before, type == 3 ? 0 : 1);
    }
}

void TestStress::cleanScansAfterwards()
{
    const QStringList devices { "198.18.0.10", "198.18.0.11", "198.18.0.12", "198.18.0.13" };
    QCOMPARE(oneScan(1), devices);
    QCOMPARE(oneScan(2), devices);
    QCOMPARE(oneScan(3), QStringList { "198.18.0.10" });
    QTest::qWait(500);
    QVERIFY2(threadCount() <= m_threadsBefore, qPrintable(QString::number(threadCount())));
}

QTEST_MAIN(TestStress)
#include "tst_stress.moc"
