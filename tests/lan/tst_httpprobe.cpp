// The HTTP probe sweep against the simulated encoders of httpprobe.topology.

#include "lanaddresses.h"

#include "discovery/bonjourwinservice.h"
#include "tests/common/queuedsignalrecorder.h"

#include <QElapsedTimer>
#include <QtTest>

class TestHttpProbe : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void reportsOnlyAcceptedReplies();
    void silentDeviceCostsTheLimitOnly();
    void stopEndsProbesInFlight();
};

void TestHttpProbe::initTestCase()
{
    if (!inTestLan()) {
        QSKIP("sweeps run only inside the simulated LAN (tools/simlan/simlan.sh run)");
    }
}

void TestHttpProbe::reportsOnlyAcceptedReplies()
{
    BonjourWinService service(nullptr);
    QueuedSignalRecorder found(&service, &BonjourWinService::deviceMacFound);
    QueuedSignalRecorder done(&service, &BonjourWinService::arpScanDone);
    // .30 has nobody behind it.
    QStringList addresses;
    for (int host = 10; host <= 20; ++host) {
        addresses.append(QStringLiteral("198.18.0.%1").arg(host));
    }
    addresses.append(QStringLiteral("198.18.0.30"));
    service.startArpScan(addresses, true);
    QVERIFY(done.wait(5000));
    QTest::qWait(300);
    QCOMPARE(done.count(), 1);
    QCOMPARE(service.remainingCount(), 0);

    QMap<QString, QString> reported;
    for (const QList<QVariant> &report : qAsConst(found)) {
        reported.insert(report.at(0).toString(), report.at(1).toString());
        QVERIFY(report.at(2).toString().isEmpty() && report.at(3).toString().isEmpty());
    }
    // The cut-off bodies are answers too, but never longer than the cap.
    QVERIFY(reported.value("198.18.0.17").size() <= 64 * 1024);
    QVERIFY(reported.value("198.18.0.19").size() <= 64 * 1024);
    reported.remove("198.18.0.17");
    reported.remove("198.18.0.19");
    const QMap<QString, QString> expected = {
        { "198.18.0.10", "02-06-00-00-00-10" }, // trailing line feed removed
        { "198.18.0.11", "D0-C8-00-00-00-11" }, // content type in capitals, with parameter
        { "198.18.0.15", "D0-C8-00-00-00-15" }, // up to the NUL
        { "198.18.0.16", "AB\r" }, // only line feeds go
        { "198.18.0.20", QString::fromLatin1("\xc3\xa9\xff") }, // bytes read as Latin-1
    };
    QCOMPARE(reported, expected);
}

void TestHttpProbe::silentDeviceCostsTheLimitOnly()
{
    BonjourWinService service(nullptr);
    QueuedSignalRecorder found(&service, &BonjourWinService::deviceMacFound);
    QueuedSignalRecorder done(&service, &BonjourWinService::arpScanDone);
    // 40 addresses give slices of two: the first worker asks the device that never answers,
    // then the good one.
    QStringList addresses = { "198.18.0.14", "198.18.0.10" };
    for (int host = 100; addresses.size() < 40; ++host) {
        addresses.append(QStringLiteral("198.18.0.%1").arg(host));
    }
    QElapsedTimer clock;
    clock.start();
    service.startArpScan(addresses, true);
    QTRY_COMPARE_WITH_TIMEOUT(found.count(), 1, 2000);
    const qint64 reportedAfter = clock.elapsed();
    QCOMPARE(found.at(0).at(0).toString(), QStringLiteral("198.18.0.10"));
    QVERIFY2(reportedAfter >= 290 && reportedAfter < 700,
             qPrintable(QString::number(reportedAfter)));
    QVERIFY(done.wait(3000));
}

void TestHttpProbe::stopEndsProbesInFlight()
{
    BonjourWinService service(nullptr);
    QueuedSignalRecorder done(&service, &BonjourWinService::arpScanDone);
    // Every worker sits in a probe that would not end by itself for long.
    QStringList addresses;
    for (int i = 0; i < 20; ++i) {
        addresses.append(i % 2 ? "198.18.0.14" : "198.18.0.18");
    }
    service.startArpScan(addresses, true);
    QTest::qWait(150);
    QElapsedTimer clock;
    clock.start();
    service.stopArpScan();
    QVERIFY2(clock.elapsed() < 300, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(done.count(), 1);
    QTest::qWait(500);
    QCOMPARE(done.count(), 1);
}

QTEST_GUILESS_MAIN(TestHttpProbe)
#include "tst_httpprobe.moc"
