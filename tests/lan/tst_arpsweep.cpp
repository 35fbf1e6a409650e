// The ARP sweep against the hosts of arpsweep.topology, run inside its simulated LAN.

#include "lanaddresses.h"

#include "discovery/bonjourwinservice.h"
#include "tests/common/queuedsignalrecorder.h"

#include <QElapsedTimer>
#include <QtTest>

using Slices = QList<QPair<int, int>>;

namespace {

// Hosts of arpsweep.topology and the MAC text the sweep must report for each.
const QMap<QString, QString> kHosts = {
    { "198.18.0.10", "02-06-00-00-00-10" },  { "198.18.0.11", "D0-C8-00-11-22-33" },
    { "198.18.0.12", "08-EA-40-00-00-12" },  { "198.18.0.13", "0C-8C-24-00-00-13" },
    { "198.18.0.14", "0A-BB-CC-DD-EE-14" },  { "198.18.0.50", "00-11-22-33-44-55" },
    { "198.18.0.254", "D0-C8-00-00-00-FE" },
};

} // namespace

class TestArpSweep : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void reportsEveryHostOnce();
    void slicesTheList_data();
    void slicesTheList();
    void emptyListEndsOnlyByStop();
    void stopEndsBusyWorkersAtOnce();
    void restartEndsTheEarlierSweep();
    void unreadableAddressesSendNothing();
    void pingIP_data();
    void pingIP();
};

void TestArpSweep::initTestCase()
{
    if (!inTestLan()) {
        QSKIP("sweeps run only inside the simulated LAN (tools/simlan/simlan.sh run)");
    }
    QCOMPARE(qEnvironmentVariable("LUMISWEEP_LAN_SCANNER_IP"), QStringLiteral("198.18.0.1"));
}

void TestArpSweep::reportsEveryHostOnce()
{
    BonjourWinService service(nullptr);
    QueuedSignalRecorder found(&service, &BonjourWinService::deviceMacFound);
    QueuedSignalRecorder done(&service, &BonjourWinService::arpScanDone);

    service.startArpScan(lanHosts("198.18.0.0/24"), false);
    QVERIFY(done.wait(5000));
    // Nothing may follow the end report.
    QTest::qWait(300);
    QCOMPARE(done.count(), 1);
    QCOMPARE(service.remainingCount(), 0);

    QMap<QString, QString> reported;
    for (const QList<QVariant> &report : qAsConst(found)) {
        QVERIFY2(!reported.contains(report.at(0).toString()), qPrintable(report.at(0).toString()));
        reported.insert(report.at(0).toString(), report.at(1).toString());
        QCOMPARE(report.at(2).toString(), QString());
        QCOMPARE(report.at(3).toString(), QString());
    }
    QCOMPARE(reported, kHosts);
}

void TestArpSweep::slicesTheList_data()
{
    QTest::addColumn<QString>("subnet");
    QTest::addColumn<int>("count");
    QTest::addColumn<bool>("httpProbe");
    QTest::addColumn<Slices>("slices");

    QList<QPair<int, int>> ones;
    for (int i = 0; i < 254; ++i) {
        ones.append({ i, 1 });
    }
    QTest::newRow("254 by ARP") << "198.18.0.0/24" << 254 << false << ones;

    QList<QPair<int, int>> probes;
    for (int i = 0; i < 19; ++i) {
        probes.append({ i * 13, 13 });
    }
    probes.append({ 247, 7 });
    QTest::newRow("254 by HTTP") << "198.18.0.0/24" << 254 << true << probes;
    QTest::newRow("short list") << "198.18.0.0/24" << 3 << false
                                << QList<QPair<int, int>> { { 0, 1 }, { 1, 1 }, { 2, 1 } };

    QList<QPair<int, int>> fours;
    for (int i = 0; i < 250; ++i) {
        fours.append({ i * 4, 4 });
    }
    QTest::newRow("1000 by ARP") << "198.18.0.0/22" << 1000 << false << fours;
}

void TestArpSweep::slicesTheList()
{
    QFETCH(QString, subnet);
    QFETCH(int, count);
    QFETCH(bool, httpProbe);
    QFETCH(Slices, slices);

    BonjourWinService service(nullptr);
    service.startArpScan(lanHosts(subnet).mid(0, count), httpProbe);
    QCOMPARE(service.sweepSlices(), slices);
    service.stopArpScan();
    QVERIFY(service.sweepSlices().isEmpty());
}

void TestArpSweep::emptyListEndsOnlyByStop()
{
    BonjourWinService service(nullptr);
    QueuedSignalRecorder done(&service, &BonjourWinService::arpScanDone);
    service.startArpScan(QStringList(), false);
    QVERIFY(service.sweepSlices().isEmpty());
    QCOMPARE(service.remainingCount(), 0);
    QTest::qWait(300);
    QCOMPARE(done.count(), 0);
    service.stopArpScan();
    QCOMPARE(done.count(), 1);
}

void TestArpSweep::stopEndsBusyWorkersAtOnce()
{
    BonjourWinService service(nullptr);
    QueuedSignalRecorder done(&service, &BonjourWinService::arpScanDone);
    service.startArpScan(lanHosts("198.18.0.0/22"), false);
    QCOMPARE(service.sweepSlices().size(), BonjourWinService::kMaxThreads);
    // Well inside the ARP wait of the silent addresses.
    QTest::qWait(250);

    QElapsedTimer clock;
    clock.start();
    service.stopArpScan();
    QVERIFY2(clock.elapsed() < 300, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(done.count(), 1);
    QVERIFY(service.remainingCount() > 0);

    // No worker may report the end after the stop did.
    QTest::qWait(500);
    QCOMPARE(done.count(), 1);
    service.stopArpScan();
    QCOMPARE(done.count(), 2);
}

void TestArpSweep::restartEndsTheEarlierSweep()
{
    BonjourWinService service(nullptr);
    QueuedSignalRecorder found(&service, &BonjourWinService::deviceMacFound);
    QueuedSignalRecorder done(&service, &BonjourWinService::arpScanDone);
    service.startArpScan(lanHosts("198.18.0.0/24"), false);
    QTest::qWait(150);
    // What the earlier workers reported so far is dropped, and they are gone once the call
    // returns.
    found.clear();
    service.startArpScan(lanHosts("198.18.0.0/24"), false);
    QVERIFY(done.wait(5000));
    QTest::qWait(300);
    QCOMPARE(done.count(), 1);
    QSet<QString> reported;
    for (const QList<QVariant> &report : qAsConst(found)) {
        reported.insert(report.at(0).toString());
    }
    QCOMPARE(reported.size(), kHosts.size());
}

void TestArpSweep::unreadableAddressesSendNothing()
{
    BonjourWinService service(nullptr);
    QueuedSignalRecorder found(&service, &BonjourWinService::deviceMacFound);
    QueuedSignalRecorder done(&service, &BonjourWinService::arpScanDone);
    const QStringList texts = {
        "", "not an address", "198.18.0.300", "198.18.0.10x", "255.255.255.255", "224.0.0.251"
    };
    QElapsedTimer clock;
    clock.start();
    service.startArpScan(texts, false);
    QVERIFY(done.wait(2000));
    // Nothing was sent, so nothing was waited for.
    QVERIFY2(clock.elapsed() < 300, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(found.count(), 0);
    QVERIFY(!service.pingIP("not an address", false));
}

void TestArpSweep::pingIP_data()
{
    QTest::addColumn<QString>("ipString");
    QTest::addColumn<bool>("report");
    QTest::addColumn<bool>("expected");

    QTest::newRow("device answers, reported") << "198.18.0.10" << true << true;
    QTest::newRow("host answers, silent") << "198.18.0.50" << false << true;
    QTest::newRow("nobody there, reported") << "198.18.0.99" << true << false;
    QTest::newRow("unreadable, reported") << "198.18.0.x" << true << false;
}

void TestArpSweep::pingIP()
{
    QFETCH(QString, ipString);
    QFETCH(bool, report);
    QFETCH(bool, expected);

    BonjourWinService service(nullptr);
    QueuedSignalRecorder results(&service, &BonjourWinService::pingIPResult);
    // The first echo to a fresh address waits for ARP as well; the limit holds after that.
    service.pingIP(ipString, false);
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(service.pingIP(ipString, report), expected);
    QVERIFY2(clock.elapsed() < 50, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(results.count(), report ? 1 : 0);
    if (report) {
        QCOMPARE(results.at(0).at(0).toString(), ipString);
        QCOMPARE(results.at(0).at(1).toBool(), expected);
    }
}

QTEST_GUILESS_MAIN(TestArpSweep)
#include "tst_arpsweep.moc"
