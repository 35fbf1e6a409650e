// A wide sweep with the kernel's default ARP timing must not fill the neighbour table, which
// the whole machine shares: unanswered entries stay within the program's budget, and every
// device is still found.
#include "lanaddresses.h"

#include "discovery/bonjourwinservice.h"
#include "platform/arpresolver.h"
#include "tests/common/queuedsignalrecorder.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QtTest>

namespace {
// Entries of this namespace's table still waiting for an answer.
int unansweredEntries()
{
    QProcess ip;
    ip.start(QStringLiteral("ip"), { "-4", "neigh", "show", "nud", "incomplete" });
    ip.waitForFinished(2000);
    return ip.readAllStandardOutput().count('\n');
}

int overflowReports()
{
    QProcess dmesg;
    dmesg.start(QStringLiteral("dmesg"), QStringList());
    dmesg.waitForFinished(5000);
    return dmesg.readAllStandardOutput().count("neighbor table overflow");
}
} // namespace

class TestNeighbourBudget : public QObject
{
    Q_OBJECT
private slots:
    void wideSweepStaysWithinBudget();
};

void TestNeighbourBudget::wideSweepStaysWithinBudget()
{
    if (!inTestLan()) {
        QSKIP("sweeps run only inside the simulated LAN (tools/simlan/simlan.sh run)");
    }
    const int budget = ArpResolver::unresolvedBudget();
    QVERIFY(budget > 0 && budget <= 512);
    const int overflowsBefore = overflowReports();

    BonjourWinService service(nullptr);
    QueuedSignalRecorder found(&service, &BonjourWinService::deviceMacFound);
    QueuedSignalRecorder done(&service, &BonjourWinService::arpScanDone);
    QElapsedTimer clock;
    clock.start();
    service.startArpScan(lanHosts("198.18.0.0/22"), false);
    int peak = 0;
    while (done.isEmpty() && clock.elapsed() < 60000) {
        peak = qMax(peak, unansweredEntries());
        QTest::qWait(50);
    }
    QCOMPARE(done.count(), 1);
    qInfo("/22 with 3 s ARP give-up: %lld ms, peak %d unresolved entries (budget %d)",
          clock.elapsed(), peak, budget);

    QStringList ips;
    for (const QList<QVariant> &report : qAsConst(found)) {
        ips << report.at(0).toString();
    }
    ips.sort();
    QCOMPARE(ips, (QStringList { "198.18.0.10", "198.18.1.20", "198.18.2.30", "198.18.3.40" }));
    // A few entries may have been made by the kernel itself (the simulators' own traffic).
    QVERIFY2(peak <= budget + 16, qPrintable(QString::number(peak)));
    QCOMPARE(overflowReports(), overflowsBefore);
}

QTEST_MAIN(TestNeighbourBudget)
#include "tst_neighbourbudget.moc"
