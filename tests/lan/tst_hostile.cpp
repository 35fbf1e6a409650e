// Devices and announcers that attack: every scan type over the hostile LAN, each compared with
// the whole table it must give, while memory stays bounded and every log line stays one line.
#include "tests/common/testkit.h"

#include <sys/resource.h>

namespace {
long peakMiB()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}
} // namespace

class TestHostile : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { REQUIRE_LAN(); }
    void scans_data();
    void scans();
};

void TestHostile::scans_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QStringList>("table");
    const QString cut(64 * 1024, 'A'); // bodies end at 64 KiB, the row stays
    const QString good = row(10, "02-06-00-00-00-10", "1.0", "Good 10");
    const QString longName = row(23, "0C-8C-24-00-00-23", "1.3", QString(10000, 'N'));
    const QString nulAndLatin1 = row(24, "D0-C8-00-00-00-24",
                                     QString::fromLatin1("\xff\xfe"
                                                         "1.4"),
                                     "Bad");
    const QString markup
        = row(25, "02-06-00-00-00-25", "1.5",
              "<img src=\"http://198.18.0.1/x.png\"><a href=\"http://198.18.0.1/\">click</a>");
    const QString impostor = row(27, "02-06-00-00-00-27", "1.7", "Impostor");
    const QString controls = row(30, "08-EA-40-00-00-30", "1.8", "LineINFO forged\x1b[2J");
    QStringList arp { good,
                      row(20, "D0-C8-00-00-00-20", cut, cut),
                      row(21, "02-06-00-00-00-21", cut, cut),
                      row(22, "08-EA-40-00-00-22", "", ""), // dripping: given up, empty
                      longName,
                      nulAndLatin1,
                      markup,
                      row(26, "D0-C8-00-00-00-26", "1.6", "Garbage MAC"),
                      impostor,
                      row(28, "D0-C8-00-00-00-28", "", ""), // compressed: not accepted
                      row(29, "02-06-00-00-00-29", "", ""), // endless headers: given up
                      controls };
    // The impostor's own rows: it answers ARP for a range, nothing else. Their queries, two a
    // host, are more than may be in flight at once: the rest wait their turn, and none is lost.
    for (int host = 192; host <= 254; ++host) {
        arp << row(host, "02-06-00-00-00-27", "", "");
    }
    arp.sort();
    QTest::newRow("arp") << 1 << arp;
    // The probe needs an accepted MAC reply: huge, endless, dripping, compressed, garbage and
    // header-streaming replies give none.
    QTest::newRow("http probe") << 2 << QStringList { good,   longName, nulAndLatin1,
                                                      markup, impostor, controls };
    // The name as the announcer wrote it, markup and all, which the window shows as text; the
    // MAC is cut to 17 characters.
    QTest::newRow("mdns") << 3
                          << QStringList { row(31, "02-06-00-00-00-31", QString(252, 'F'),
                                               "<b>Evil</b>") };
}

void TestHostile::scans()
{
    QFETCH(int, type);
    QFETCH(QStringList, table);
    const long before = peakMiB();
    LogCapture log;
    {
        ControllerFixture ctrl;
        ctrl->startDiscover(Lan::scannerIp(), type);
        if (type == 3) {
            QTRY_COMPARE_WITH_TIMEOUT(ctrl.scan.lines.size(), table.size(), 15000);
            ctrl->stopDiscover(3);
        } else {
            QTRY_COMPARE_WITH_TIMEOUT(ctrl.scan.count("done"), 1, 60000);
            QTRY_COMPARE_WITH_TIMEOUT(ctrl->pendingDeviceQueries(), 0, 60000);
        }
        QCOMPARE(ctrl.scan.table(), table);
    }
    // No device could forge a line or drive the terminal of whoever reads the log.
    for (const QString &line : log.lines()) {
        QVERIFY2(std::all_of(line.cbegin(), line.cend(),
                             [](QChar c) { return c >= ' ' && c != '\x7f'; }),
                 qPrintable(line.left(200)));
    }
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    // A 1 MB gzip of 1 GiB, 100 MB bodies and endless headers: nothing piles up.
    QVERIFY2(peakMiB() - before < 64, qPrintable(QString::number(peakMiB() - before)));
#endif
}

QTEST_MAIN(TestHostile)
#include "tst_hostile.moc"
