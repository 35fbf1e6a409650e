// Hostile devices next to well-behaved ones (hostile.lan): huge and endless
// bodies, a slow drip, a 10,000-character name, NUL bytes and invalid UTF-8, markup, a garbage
// MAC reply, a host answering ARP for half the subnet, and mDNS instances with oversized TXT
// values and markup names. The program must stay alive and small, keep the GUI thread moving,
// and list the well-behaved devices exactly right.
#include "processprobe.h"
#include "tests/common/controllerfixture.h"
#include "tests/common/announcements.h"

#include <QFile>
#include <QSignalSpy>
#include <QTest>

#include <memory>

namespace {
struct Row
{
    QString mac, fw, name;
};

QMap<QString, Row> rowsOf(const QSignalSpy &spy)
{
    QMap<QString, Row> rows;
    for (const QList<QVariant> &args : spy) {
        // The last report of an address wins, as the window shows the latest row last.
        rows.insert(args.at(0).toString(),
                    Row { args.at(1).toString(), args.at(2).toString(), args.at(3).toString() });
    }
    return rows;
}

void compareRow(const QMap<QString, Row> &rows, const QString &ip, const QString &mac,
                const QString &fw, const QString &name)
{
    QVERIFY2(rows.contains(ip), qPrintable(ip));
    const Row row = rows.value(ip);
    QCOMPARE(row.mac, mac);
    QCOMPARE(row.fw, fw);
    QCOMPARE(row.name, name);
}

const QString kMarkup
    = "<img src=\"http://198.18.0.1/x.png\"><a href=\"http://198.18.0.1/\">click</a>";
constexpr int kBodyLimit = 64 * 1024;
} // namespace

class TestHostileDevices : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void arpScan();
    void httpProbeScan();
    void mdnsScan();
    void stillHealthy();

private:
    QString m_scannerIp;
    std::unique_ptr<ControllerFixture> m_fixture;
    Controller *m_controller = nullptr;
    std::unique_ptr<ProcessProbe> m_probe;
};

void TestHostileDevices::initTestCase()
{
    m_scannerIp = ControllerFixture::lanScannerIp();
    if (m_scannerIp.isEmpty()) {
        QSKIP("needs the simulated LAN: run through tools/simlan/simlan.sh run hostile.lan");
    }
    m_fixture.reset(new ControllerFixture);
    m_controller = m_fixture->controller();
    m_probe.reset(new ProcessProbe);
}

void TestHostileDevices::cleanupTestCase()
{
    m_fixture.reset();
}

void TestHostileDevices::arpScan()
{
    QSignalSpy found(m_controller, SIGNAL(deviceFound(QString, QString, QString, QString)));
    QSignalSpy done(m_controller, SIGNAL(arpScanDone()));
    m_controller->startDiscover(m_scannerIp, 1);
    QVERIFY(done.wait(20000));
    const QMap<QString, Row> rows = rowsOf(found);

    compareRow(rows, "198.18.0.10", "02-06-00-00-00-10", "1.0", "Good 10");
    compareRow(rows, "198.18.0.11", "D0-C8-00-00-00-11", "1.1", "Good 11");
    compareRow(rows, "198.18.0.12", "08-EA-40-00-00-12", "1.2", "Good 12");

    // Huge and endless bodies are cut at the limit, the value kept as read.
    for (const QString &ip : { QStringLiteral("198.18.0.20"), QStringLiteral("198.18.0.21") }) {
        QVERIFY2(rows.contains(ip), qPrintable(ip));
        QVERIFY(rows.value(ip).name.size() <= kBodyLimit);
        QVERIFY(rows.value(ip).fw.size() <= kBodyLimit);
    }
    // A drip never completes: reported at the end with what the sweep knew.
    compareRow(rows, "198.18.0.22", "08-EA-40-00-00-22", "", "");
    compareRow(rows, "198.18.0.23", "0C-8C-24-00-00-23", "1.3", QString(10000, QLatin1Char('N')));
    compareRow(rows, "198.18.0.24", "D0-C8-00-00-00-24",
               QString::fromLatin1("\xff\xfe"
                                   "1.4"),
               "Bad");
    compareRow(rows, "198.18.0.25", "02-06-00-00-00-25", "1.5", kMarkup);
    compareRow(rows, "198.18.0.26", "D0-C8-00-00-00-26", "1.6", "Garbage MAC");

    // The host answering ARP for .128/25 gets rows for those addresses, and nothing else moves.
    int impostorRows = 0;
    for (auto it = rows.cbegin(); it != rows.cend(); ++it) {
        if (it.value().mac == QLatin1String("02-06-00-00-00-27")) {
            ++impostorRows;
        }
    }
    QCOMPARE(impostorRows, 1 + 127);
    QCOMPARE(rows.size(), 3 + 7 + impostorRows);
    qInfo("ARP scan: %d rows; peak RSS %lld MiB; longest GUI stall %lld ms", int(rows.size()),
          ProcessProbe::peakRssMiB(), m_probe->longestStallMs());
}

void TestHostileDevices::httpProbeScan()
{
    QSignalSpy found(m_controller, SIGNAL(deviceFound(QString, QString, QString, QString)));
    QSignalSpy done(m_controller, SIGNAL(arpScanDone()));
    m_controller->startDiscover(m_scannerIp, 2);
    QVERIFY(done.wait(20000));
    const QMap<QString, Row> rows = rowsOf(found);
    compareRow(rows, "198.18.0.10", "02-06-00-00-00-10", "1.0", "Good 10");
    compareRow(rows, "198.18.0.11", "D0-C8-00-00-00-11", "1.1", "Good 11");
    compareRow(rows, "198.18.0.12", "08-EA-40-00-00-12", "1.2", "Good 12");
    // A garbage MAC reply fails the vendor test; endless and huge replies are cut, and their
    // filler is no vendor MAC either.
    QVERIFY(!rows.contains("198.18.0.26"));
    QVERIFY(!rows.contains("198.18.0.20"));
    QVERIFY(!rows.contains("198.18.0.21"));
    qInfo("Http Download scan: %d rows; peak RSS %lld MiB; longest GUI stall %lld ms",
          int(rows.size()), ProcessProbe::peakRssMiB(), m_probe->longestStallMs());
}

void TestHostileDevices::mdnsScan()
{
    if (!Announcements::daemonAvailable()) {
        QSKIP("needs the test avahi-daemon (tools/simlan/with-avahi.sh)");
    }
    // Publishing waits for avahi-publish in this thread: not a stall of the program's.
    m_probe->pause();
    Announcements announcements;
    const QString longValue(255 - 3, QLatin1Char('F')); // "FW=" plus 252 bytes: a full TXT string
    QVERIFY(announcements.address("good.local", "198.18.0.10"));
    QVERIFY(
        announcements.service("Good mDNS", "good.local", { "MAC=02:06:00:00:00:10", "FW=1.0" }));
    QVERIFY(announcements.service(
        "<b>Bold</b> <img src=x>", "good.local",
        { "MAC=D0:C8:00:00:00:99", "FW=" + longValue, "Code=" + QString(250, QLatin1Char('C')) }));
    QVERIFY(announcements.address("long.local", "198.18.0.77"));
    QVERIFY(announcements.service("Long MAC", "long.local",
                                  { "MAC=0C:8C:24:00:00:77" + QString(230, QLatin1Char(':')) }));

    m_probe->resume();
    QSignalSpy found(m_controller, SIGNAL(deviceFound(QString, QString, QString, QString)));
    m_controller->startDiscover(m_scannerIp, 3);
    QTRY_VERIFY_WITH_TIMEOUT(found.count() >= 2, 10000);
    QTest::qWait(1000);
    m_controller->stopDiscover(3);
    m_probe->pause(); // the announcements end in this thread too

    // One row per address: the second instance on good.local shares its address.
    const QMap<QString, Row> rows = rowsOf(found);
    QCOMPARE(rows.size(), 2);
    const Row good = rows.value("198.18.0.10");
    // Names keep the escapes the daemon gives them (a space is \032).
    QVERIFY(good.name == "Good\\032mDNS" || good.name.contains("Bold"));
    const Row longMac = rows.value("198.18.0.77");
    QCOMPARE(longMac.mac, QStringLiteral("0C-8C-24-00-00-77"));
    QCOMPARE(longMac.name, QStringLiteral("Long\\032MAC"));
}

void TestHostileDevices::stillHealthy()
{
    m_probe->resume();
    // The event loop kept moving through all of it, and memory stayed bounded.
    qInfo("peak RSS %lld MiB; longest GUI stall %lld ms", ProcessProbe::peakRssMiB(),
          m_probe->longestStallMs());
    QVERIFY(ProcessProbe::peakRssMiB() < ProcessProbe::memoryLimitMiB());
    QVERIFY2(m_probe->longestStallMs() <= ProcessProbe::stallLimitMs(),
             qPrintable(QString::number(m_probe->longestStallMs())));
}

QTEST_MAIN(TestHostileDevices)
#include "tst_hostiledevices.moc"
