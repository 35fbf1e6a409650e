// The pure rules that turn what the network sends into device data.
#include "controller/addressrange.h"
#include "controller/devicerecordassembler.h"
#include "app/devicetablewriter.h"
#include "controller/vendorprefix.h"
#include "discovery/deviceprotocol.h"
#include "discovery/ipv4text.h"
#include "discovery/logtext.h"
#include "discovery/resolvequeue.h"
#include "discovery/resolvereply.h"
#include "platform/linux-neighbourbudget.h"

#include <QJsonDocument>
#include <QTest>
#include <QThread>

class TestRules : public QObject
{
    Q_OBJECT

private slots:
    void addressRange_data();
    void addressRange();
    void ipv4Text_data();
    void ipv4Text();
    void vendorPrefix_data();
    void vendorPrefix();
    void deviceReplies_data();
    void deviceReplies();
    void requestsArePinnedToTheAddress();
    void logTextIsOneQuotedLine_data();
    void logTextIsOneQuotedLine();
    void announcements_data();
    void announcements();
    void resolveQueue_data();
    void resolveQueue();
    void tableWriters_data();
    void tableWriters();
    void recordAssembly();
    void budgetTokensOutliveTheirReservation();
};

void TestRules::addressRange_data()
{
    QTest::addColumn<QString>("ip");
    QTest::addColumn<QString>("mask");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("last");
    QTest::newRow("/24") << "192.168.1.37"
                         << "255.255.255.0" << 254 << "192.168.1.1"
                         << "192.168.1.254";
    QTest::newRow("/26") << "172.16.5.200"
                         << "255.255.255.192" << 62 << "172.16.5.193"
                         << "172.16.5.254";
    QTest::newRow("/22 has .255 and .0 inside") << "10.1.2.3"
                                                << "255.255.252.0" << 1022 << "10.1.0.1"
                                                << "10.1.3.254";
    QTest::newRow("/16 whole") << "10.20.30.40"
                               << "255.255.0.0" << 65534 << "10.20.0.1"
                               << "10.20.255.254";
    QTest::newRow("/8 window around the address") << "10.20.30.40"
                                                  << "255.0.0.0" << 65024 << "10.19.159.40"
                                                  << "10.20.157.39";
    QTest::newRow("/8 window kept inside the subnet") << "10.0.0.9"
                                                      << "255.0.0.0" << 65024 << "10.0.0.1"
                                                      << "10.0.254.0";
    QTest::newRow("/30") << "192.168.1.1"
                         << "255.255.255.252" << 2 << "192.168.1.1"
                         << "192.168.1.2";
    QTest::newRow("/31 empty") << "192.168.1.37"
                               << "255.255.255.254" << 0 << ""
                               << "";
    QTest::newRow("/32 empty") << "192.168.1.37"
                               << "255.255.255.255" << 0 << ""
                               << "";
    QTest::newRow("holes in the mask") << "10.0.0.1"
                                       << "255.0.255.0" << 0 << ""
                                       << "";
    QTest::newRow("mask without dots") << "192.168.1.37"
                                       << "" << 0 << ""
                                       << "";
    QTest::newRow("three-part address") << "192.168.1"
                                        << "255.255.255.0" << 0 << ""
                                        << "";
    QTest::newRow("octet above 255") << "300.1.1.1"
                                     << "255.255.255.0" << 0 << ""
                                     << "";
    QTest::newRow("hostile mask") << "1.1.1.1"
                                  << "0.0.-2000000000.-5" << 0 << ""
                                  << "";
}

void TestRules::addressRange()
{
    QFETCH(QString, ip);
    QFETCH(QString, mask);
    QFETCH(int, count);
    QFETCH(QString, first);
    QFETCH(QString, last);
    const QVector<quint32> range = AddressRange::fromInterface(ip, mask);
    QCOMPARE(range.size(), count);
    if (count > 0) {
        QCOMPARE(Ipv4Text::format(range.first()), first);
        QCOMPARE(Ipv4Text::format(range.last()), last);
        // Consecutive and ascending, and the interface's own address is not skipped.
        QCOMPARE(range.last() - range.first(), quint32(count - 1));
        QVERIFY(range.contains(*Ipv4Text::parse(ip)));
    }
}

void TestRules::ipv4Text_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint64>("address"); // -1: not an address
    QTest::addColumn<bool>("unicast");
    QTest::newRow("dotted") << "198.18.0.10" << qint64(0xc612000a) << true;
    QTest::newRow("leading zeros are decimal") << "010.001.000.001" << qint64(0x0a010001) << true;
    QTest::newRow("limited broadcast") << "255.255.255.255" << qint64(0xffffffff) << false;
    QTest::newRow("this network") << "0.1.2.3" << qint64(0x00010203) << false;
    QTest::newRow("multicast") << "224.0.0.251" << qint64(0xe00000fb) << false;
    QTest::newRow("256") << "1.2.3.256" << qint64(-1) << false;
    QTest::newRow("short form") << "10.1" << qint64(-1) << false;
    QTest::newRow("five groups") << "1.2.3.4.5" << qint64(-1) << false;
    QTest::newRow("blank") << "1.2.3.4 " << qint64(-1) << false;
    QTest::newRow("sign") << "1.2.+3.4" << qint64(-1) << false;
    QTest::newRow("host name") << "evil.example" << qint64(-1) << false;
    QTest::newRow("path") << "1.2.3.4/login" << qint64(-1) << false;
    QTest::newRow("empty") << "" << qint64(-1) << false;
}

void TestRules::ipv4Text()
{
    QFETCH(QString, text);
    QFETCH(qint64, address);
    QFETCH(bool, unicast);
    const std::optional<quint32> parsed = Ipv4Text::parse(text);
    QCOMPARE(parsed.has_value(), address >= 0);
    if (parsed) {
        QCOMPARE(qint64(*parsed), address);
        QCOMPARE(Ipv4Text::isUnicast(*parsed), unicast);
        QCOMPARE(*Ipv4Text::parse(Ipv4Text::format(*parsed)), *parsed);
    }
}

void TestRules::vendorPrefix_data()
{
    QTest::addColumn<QString>("mac");
    QTest::addColumn<bool>("matches");
    QTest::newRow("0206") << "02-06-00-00-00-10" << true;
    QTest::newRow("d0c8") << "D0-C8-1A-2B-3C-4D" << true;
    QTest::newRow("08ea40 colons lower") << "08:ea:40:00:11:22" << true;
    QTest::newRow("0c8c24 dotted") << "0c8c.2400.1122" << true;
    QTest::newRow("08ea4 is not 08ea40") << "08-EA-41-00-11-22" << false;
    QTest::newRow("0c8c2 is not 0c8c24") << "0C-8C-25-00-11-22" << false;
    QTest::newRow("other vendor") << "00-11-22-33-44-55" << false;
    QTest::newRow("leading blank") << " D0-C8-1A-2B-3C-4D" << false;
    QTest::newRow("prefix later in text") << "00-D0-C8-1A-2B-3C" << false;
    QTest::newRow("short") << "D0" << false;
    QTest::newRow("markup around") << "<b>D0C8</b>" << false;
}

void TestRules::vendorPrefix()
{
    QFETCH(QString, mac);
    QFETCH(bool, matches);
    QCOMPARE(VendorPrefix::matches(mac), matches);
}

void TestRules::deviceReplies_data()
{
    QTest::addColumn<QString>("contentType");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("value"); // "-": not accepted
    const QString octets = QStringLiteral("application/octet-stream");
    const QString name = DeviceProtocol::deviceNamePath();
    const QString fw = DeviceProtocol::fwVersionPath();
    QTest::newRow("line feed removed") << octets << QByteArray("Encoder\n") << name << "Encoder";
    QTest::newRow("carriage return kept") << octets << QByteArray("2.1\r\n") << fw << "2.1\r";
    QTest::newRow("cut at NUL") << octets << QByteArray("ab\0cd", 5) << fw << "ab";
    QTest::newRow("utf-8 name") << octets << QByteArray("Caf\xc3\xa9 \xe2\x98\x85") << name
                                << QString::fromUtf8("Caf\xc3\xa9 \xe2\x98\x85");
    QTest::newRow("latin-1 firmware")
        << octets << QByteArray("Caf\xc3\xa9") << fw << QString::fromLatin1("Caf\xc3\xa9");
    QTest::newRow("latin-1 mac") << octets << QByteArray("\xd0-C8")
                                 << DeviceProtocol::macAddressPath()
                                 << QString::fromLatin1("\xd0-C8");
    QTest::newRow("case and charset")
        << "Application/Octet-Stream; charset=utf-8" << QByteArray("x") << fw << "x";
    QTest::newRow("text/plain") << "text/plain" << QByteArray("x") << fw << "-";
    QTest::newRow("no type") << "" << QByteArray("x") << fw << "-";
}

void TestRules::deviceReplies()
{
    QFETCH(QString, contentType);
    QFETCH(QByteArray, body);
    QFETCH(QString, path);
    QFETCH(QString, value);
    QCOMPARE(DeviceProtocol::isAcceptedContentType(contentType), value != QLatin1String("-"));
    if (value != QLatin1String("-")) {
        QCOMPARE(DeviceProtocol::decodeBody(body, path), value);
    }
}

void TestRules::requestsArePinnedToTheAddress()
{
    for (const QString *path :
         { &DeviceProtocol::macAddressPath(), &DeviceProtocol::deviceNamePath(),
           &DeviceProtocol::fwVersionPath() }) {
        const QNetworkRequest request = DeviceProtocol::request(0xc612000a, *path);
        QCOMPARE(request.url().toString(), QStringLiteral("http://198.18.0.10") + *path);
        QCOMPARE(DeviceProtocol::pathOf(request.url()), *path);
        // A compressed answer could inflate beyond every limit: ask for none.
        QCOMPARE(request.rawHeader("Accept-Encoding"), QByteArray("identity"));
    }
    QCOMPARE(DeviceProtocol::pathOf(QUrl("http://198.18.0.10/public/deviceNameX")), QString());
}

void TestRules::logTextIsOneQuotedLine_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("logged");
    QTest::newRow("plain") << "Cam 10"
                           << "\"Cam 10\"";
    QTest::newRow("line feed") << "a\nINFO forged"
                               << "\"a\\nINFO forged\"";
    QTest::newRow("terminal escape") << "\x1b[2J"
                                     << "\"\\u001b[2J\"";
    QTest::newRow("quote and backslash") << "a\"b\\"
                                         << "\"a\\\"b\\\\\"";
    QTest::newRow("C1 control") << QString(QChar(0x9b)) << "\"\\u009b\"";
    QTest::newRow("direction override") << QString(QChar(0x202e)) << "\"\\u202e\"";
    QTest::newRow("line separator") << QString(QChar(0x2028)) << "\"\\u2028\"";
    QTest::newRow("utf-8 kept") << QString::fromUtf8("Caf\xc3\xa9")
                                << QString::fromUtf8("\"Caf\xc3\xa9\"");
    QTest::newRow("bounded") << QString(2000, QLatin1Char('N'))
                             << "\"" + QString(1024, QLatin1Char('N')) + "\"...(976 more)";
}

void TestRules::logTextIsOneQuotedLine()
{
    QFETCH(QString, text);
    QFETCH(QString, logged);
    QCOMPARE(LogText::quoted(text), logged);
}

void TestRules::announcements_data()
{
    QTest::addColumn<QString>("host"); // what the lookup of the host name found
    QTest::addColumn<QByteArray>("interface"); // the TXT value; "-" when absent
    QTest::addColumn<QByteArray>("mac");
    QTest::addColumn<QByteArray>("fw");
    QTest::addColumn<QByteArray>("fullName");
    QTest::addColumn<QStringList>("report"); // ip, mac, fw, name
    const auto add
        = [](const char *row, const QString &host, const char *interface, const QByteArray &mac,
             const QByteArray &fw, const QByteArray &name, const QStringList &report) {
              QTest::newRow(row) << host << QByteArray(interface) << mac << fw << name << report;
          };
    add("typical", "192.168.1.20", "eth0:10.0.0.1", "00:11:22:33:44:55", "1.0.3",
        "Cam1._encoder._tcp.local.", { "192.168.1.20", "00-11-22-33-44-55", "1.0.3", "Cam1" });
    add("no host address: the interface value", "", "eth0:10.0.0.2", "00:11:22:33:44:55:66",
        "2.0\n", "Ca\nm2._encoder._tcp.local.\n",
        { "10.0.0.2", "00-11-22-33-44-55", "2.0", "Cam2" });
    add("escapes kept, UTF-8 name, Latin-1 firmware", "", "-", "00:11", "v\xe9",
        "K\xc3\xbc\\032A._encoder._tcp.local.",
        { "", "00-11", QString::fromLatin1("v\xe9"), QString::fromUtf8("K\xc3\xbc\\032A") });
    // The announcer writes the interface value and the address record: only a plain address
    // of a single remote host may become the row's.
    add("host name, port and path", "", "eth0:evil.example:80/x", "", "", "", { "", "", "", "" });
    add("0.0.0.0, then octal-looking", "0.0.0.0", "eth0:010.0.0.1", "", "", "", { "", "", "", "" });
    add("loopback, then broadcast", "127.0.0.1", "eth0:255.255.255.255", "", "", "",
        { "", "", "", "" });
    add("five groups, then over 255", "1.2.3.4.5", "eth0:10.0.0.256", "", "", "",
        { "", "", "", "" });
}

void TestRules::announcements()
{
    QFETCH(QString, host);
    QFETCH(QByteArray, interface);
    QFETCH(QByteArray, mac);
    QFETCH(QByteArray, fw);
    QFETCH(QByteArray, fullName);
    QFETCH(QStringList, report);
    const bool present = interface != "-";
    QCOMPARE(ResolveReply::addressFrom(host, present ? interface : QByteArray(), present),
             report.at(0));
    QCOMPARE(ResolveReply::macFrom(mac), report.at(1));
    QCOMPARE(ResolveReply::firmwareFrom(fw), report.at(2));
    QCOMPARE(ResolveReply::nameFrom(fullName), report.at(3));
}

void TestRules::resolveQueue_data()
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

void TestRules::resolveQueue()
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

void TestRules::tableWriters_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<QByteArray>("text");
    // Device text is hostile: a quote, a comma, a carriage return and an escape.
    const QString name = QString::fromUtf8("Say \"hi\",\r\x1b[2J caf\xc3\xa9");
    QTest::newRow("table") << int(DeviceTableWriter::Format::Table)
                           << QByteArray("IP Address   Mac Address        FW Version  Device Name\n"
                                         "198.18.0.9   D0-C8-00-00-00-09  1.0         Cam\n"
                                         "198.18.0.10  02-06-00-00-00-10              "
                                         "Say \\\"hi\\\",\\r\\u001b[2J caf\xc3\xa9\n");
    QTest::newRow("json") << int(DeviceTableWriter::Format::Json)
                          << QByteArray("[{\"firmware\":\"1.0\",\"ip\":\"198.18.0.9\",\"mac\":"
                                        "\"D0-C8-00-00-00-09\",\"name\":\"Cam\"},{\"firmware\":"
                                        "\"\",\"ip\":\"198.18.0.10\",\"mac\":\"02-06-00-00-00-10\","
                                        "\"name\":\"Say \\\"hi\\\",\\r\\u001b[2J caf\xc3\xa9\"}]");
    QTest::newRow("csv") << int(DeviceTableWriter::Format::Csv)
                         << QByteArray("ip,mac,firmware,name\r\n198.18.0.9,D0-C8-00-00-00-09,1.0,"
                                       "Cam\r\n198.18.0.10,02-06-00-00-00-10,,\"Say \"\"hi\"\",\r"
                                       "\x1b[2J caf\xc3\xa9\"\r\n");
}

void TestRules::tableWriters()
{
    QFETCH(int, format);
    QFETCH(QByteArray, text);
    const QVector<DeviceRow> rows { { "198.18.0.9", "D0-C8-00-00-00-09", "1.0", "Cam" },
                                    { "198.18.0.10", "02-06-00-00-00-10", "",
                                      QString::fromUtf8("Say \"hi\",\r\x1b[2J caf\xc3\xa9") } };
    QByteArray written = DeviceTableWriter::write(DeviceTableWriter::Format(format), rows);
    if (format == int(DeviceTableWriter::Format::Json)) {
        written = QJsonDocument::fromJson(written).toJson(QJsonDocument::Compact);
    }
    QCOMPARE(written, text);
}

void TestRules::recordAssembly()
{
    DeviceRecordAssembler records;
    const QString name = DeviceProtocol::deviceNamePath();
    const QString fw = DeviceProtocol::fwVersionPath();
    // The vendor test comes before the once-per-scan test.
    QVERIFY(!records.admit("198.18.0.9", "00-11-22-33-44-55"));
    QVERIFY(records.admit("198.18.0.9", "D0-C8-00-00-00-09"));
    QVERIFY(!records.admit("198.18.0.9", "D0-C8-00-00-00-09"));
    QVERIFY(records.admit("198.18.0.10", "02-06-00-00-00-10"));
    records.startRecord("198.18.0.9", "D0-C8-00-00-00-09");
    records.startRecord("198.18.0.10", "02-06-00-00-00-10");

    QVERIFY(!records.store("198.18.0.9", name, "Lobby"));
    QCOMPARE(*records.store("198.18.0.9", fw, ""),
             (DeviceRow { "198.18.0.9", "D0-C8-00-00-00-09", "", "Lobby" }));
    // A reply for a host without record starts one that is never reported.
    QVERIFY(!records.store("198.18.0.77", name, "Stray"));
    QVERIFY(!records.store("198.18.0.77", fw, "1"));
    // Incomplete rows in address text order (.10 before .9), with firmware and name empty
    // even when one of them came.
    records.store("198.18.0.10", name, "Cam");
    records.startRecord("198.18.0.100", "08-EA-40-00-00-64");
    QCOMPARE(records.incompleteRows(),
             (QVector<DeviceRow> { { "198.18.0.10", "02-06-00-00-00-10", "", "" },
                                   { "198.18.0.100", "08-EA-40-00-00-64", "", "" } }));
    QCOMPARE(DeviceRecordAssembler::announced("1.2.3.4", "m", "xNULLx", "Cam NULL"),
             (DeviceRow { "1.2.3.4", "m", "", "" }));
    QCOMPARE(DeviceRecordAssembler::announced("1.2.3.4", "m", "1.0", "null"),
             (DeviceRow { "1.2.3.4", "m", "1.0", "null" }));
    records.clear();
    QVERIFY(records.admit("198.18.0.9", "D0-C8-00-00-00-09"));
    QVERIFY(records.incompleteRows().isEmpty());
}

void TestRules::budgetTokensOutliveTheirReservation()
{
    // A holder that comes back after its reservation expired (a starved process) must touch
    // nothing that is gone: run under AddressSanitizer, this catches a dangling reservation.
    NeighbourBudget budget(2);
    const std::atomic<bool> running { false };
    const NeighbourBudget::Token late = budget.acquire(1, running);
    QThread::msleep(5);
    const NeighbourBudget::Token other = budget.acquire(1000, running);
    budget.release(late);
    budget.extend(late, 1000);
    QCOMPARE(budget.inUse(), 2);
    budget.release(late);
    budget.release(other);
    QCOMPARE(budget.inUse(), 0);
    // Full, and asked to stop: no reservation.
    NeighbourBudget full(1);
    const std::atomic<bool> stop { true };
    QVERIFY(full.acquire(1000, stop) != 0);
    QCOMPARE(full.acquire(1000, stop), NeighbourBudget::Token(0));
}

QTEST_GUILESS_MAIN(TestRules)
#include "tst_rules.moc"
