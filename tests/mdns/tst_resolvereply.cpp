// The rules that turn a resolve reply into a report, and the line of resolves, on crafted
// input: no daemon needed.
#include "discovery/resolvequeue.h"
#include "discovery/resolvereply.h"
#include "platform/dnssdbinding.h"

#include <QtTest>

#include <memory>

class TestResolveReply : public QObject
{
    Q_OBJECT
private slots:
    void reportRules_data();
    void reportRules();
    void txtLookupStaysInsideTheRecord_data();
    void txtLookupStaysInsideTheRecord();
    void resolveQueue_data();
    void resolveQueue();
};

void TestResolveReply::reportRules_data()
{
    QTest::addColumn<QByteArray>("mac");
    QTest::addColumn<QByteArray>("fw");
    QTest::addColumn<QByteArray>("fullName");
    QTest::addColumn<QString>("hostAddress");
    QTest::addColumn<QByteArray>("interface"); // "-" for an absent key
    QTest::addColumn<QStringList>("report"); // ip, mac, fw, name

    QTest::newRow("typical") << QByteArray("00:11:22:33:44:55") << QByteArray("1.0.3")
                             << QByteArray("Cam1._encoder._tcp.local.") << "192.168.1.20"
                             << QByteArray("eth0:10.0.0.1")
                             << QStringList { "192.168.1.20", "00-11-22-33-44-55", "1.0.3",
                                              "Cam1" };
    QTest::newRow("long MAC cut, short kept")
        << QByteArray("00:11:22:33:44:55:66") << QByteArray("2.0\n")
        << QByteArray("Ca\nm2._encoder._tcp.local.\n") << "" << QByteArray("eth0:10.0.0.2")
        << QStringList { "10.0.0.2", "00-11-22-33-44-55", "2.0", "Cam2" };
    QTest::newRow("escapes, UTF-8 name, Latin-1 firmware")
        << QByteArray("00:11") << QByteArray("v\xe9")
        << QByteArray("K\xc3\xbc\\032A._encoder._tcp.local.") << "" << QByteArray("eth0:")
        << QStringList { "", "00-11", QString::fromUtf8("v\xc3\xa9"),
                         QString::fromUtf8("K\xc3\xbc\\032A") };
    QTest::newRow("empty interface, other domain")
        << QByteArray() << QByteArray() << QByteArray("Cam4._encoder._tcp.example.") << ""
        << QByteArray() << QStringList { "", "", "", "Cam4._encoder._tcp.example." };
    // The announcer writes the interface value: only a plain address may become the row's.
    const auto forged = [](const char *name, const QString &host, const char *interface) {
        QTest::newRow(name) << QByteArray() << QByteArray() << QByteArray() << host
                            << QByteArray(interface) << QStringList { "", "", "", "" };
    };
    forged("host name, port and path", "", "eth0:evil.example:80/x");
    forged("0.0.0.0, then octal-looking", "0.0.0.0", "eth0:010.0.0.1");
    forged("five groups, group over 255", "1.2.3.4.5", "eth0:10.0.0.256");
}

void TestResolveReply::reportRules()
{
    QFETCH(QByteArray, mac);
    QFETCH(QByteArray, fw);
    QFETCH(QByteArray, fullName);
    QFETCH(QString, hostAddress);
    QFETCH(QByteArray, interface);
    QFETCH(QStringList, report);

    const bool present = interface != "-";
    QCOMPARE(ResolveReply::addressFrom(hostAddress, present ? interface : QByteArray(), present),
             report.at(0));
    QCOMPARE(ResolveReply::macFrom(mac), report.at(1));
    QCOMPARE(ResolveReply::firmwareFrom(fw), report.at(2));
    QCOMPARE(ResolveReply::nameFrom(fullName), report.at(3));
}

void TestResolveReply::txtLookupStaysInsideTheRecord_data()
{
    QTest::addColumn<QByteArray>("record");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("value"); // "-" for an absent key
    const auto entry = [](const QByteArray &text) { return char(text.size()) + text; };
    const QByteArray typical
        = entry("MAC=00:11:22:33:44:55") + entry("FW=1.0.3") + entry("interface=eth0:198.18.0.9");

    QTest::newRow("last") << typical << QByteArray("interface") << QByteArray("eth0:198.18.0.9");
    QTest::newRow("absent") << typical << QByteArray("Code") << QByteArray("-");
    QTest::newRow("NUL inside") << entry(QByteArray("FW=1") + '\0' + '2') << QByteArray("FW")
                                << QByteArray("1") + '\0' + '2';
    // The second entry claims 200 bytes where 9 follow: the value is hidden or cut, never more.
    QTest::newRow("length lies") << entry("Code=7") + char(200) + QByteArray("FW=1.0.3x")
                                 << QByteArray("FW") << QByteArray("?");
}

void TestResolveReply::txtLookupStaysInsideTheRecord()
{
    if (!DnsSdBinding::instance().isLoaded()) {
        QSKIP("the DNS-SD library is not installed");
    }
    QFETCH(QByteArray, record);
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, value);
    // A heap block of exactly the record's size, so a sanitizer build sees any read past it.
    std::unique_ptr<unsigned char[]> txt(new unsigned char[record.size()]);
    memcpy(txt.get(), record.constData(), size_t(record.size()));

    const ResolveReply reply("Cam1._encoder._tcp.local.", "cam1.local.", uint16_t(record.size()),
                             txt.get());
    bool present = false;
    const QByteArray got = reply.txtValue(key.constData(), &present);
    if (value == "?") {
        QVERIFY(got.size() <= 6);
    } else {
        QCOMPARE(present, value != "-");
        QCOMPARE(got, present ? value : QByteArray());
    }
}

void TestResolveReply::resolveQueue_data()
{
    // Two resolves at a time, three waiting. Steps: +x heard of (W waiting, K known already,
    // F line full), n take the next (its name, or _ for none), fx the resolve of x ended.
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QString>("outcome");
    QTest::newRow("once, bounded") << "+a +a +b +c +d n +d +a"
                                   << "W K W W F a W K";
    QTest::newRow("slots") << "+a +b +c n n n fa n n"
                           << "W W W a b _ c _";
    QTest::newRow("heard of again after its end") << "+a n fa +a n"
                                                  << "W a W a";
}

void TestResolveReply::resolveQueue()
{
    QFETCH(QString, steps);
    QFETCH(QString, outcome);
    ResolveQueue queue(2, 3);
    QStringList got;
    for (const QString &step : steps.split(' ')) {
        ResolveQueue::Instance instance { 0, step.mid(1).toLatin1(), "_encoder._tcp", "local." };
        if (step[0] == '+') {
            got << QString("WKF").at(int(queue.add(instance)));
        } else if (step[0] == 'f') {
            queue.finished(instance);
        } else {
            got << (queue.takeNext(&instance) ? QString::fromLatin1(instance.name) : "_");
        }
    }
    QCOMPARE(got.join(' '), outcome);
}

QTEST_APPLESS_MAIN(TestResolveReply)
#include "tst_resolvereply.moc"
