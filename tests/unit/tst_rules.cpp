// The pure rules that turn what the network and the user send into device data and output.
#include "app/commandline.h"
#include "base/ipv4text.h"
#include "base/logtext.h"
#include "controller/addressrange.h"
#include "controller/devicetablewriter.h"
#include "controller/devicestore.h"
#include "controller/vendorprefix.h"
#include "discovery/deviceprotocol.h"
#include "discovery/neighbourbudget.h"
#include "discovery/neighbourpresence.h"
#include "discovery/neighbourshare.h"
#include "discovery/resolvequeue.h"
#include "discovery/resolvereply.h"
#include "discovery/sweepstate.h"
#include "discovery/watchschedule.h"
#include "platform/arpengine.h"
#include "tests/common/testkit.h"

#include <QAbstractItemModelTester>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QTest>
#include <QThread>

namespace {
const QString kName = DeviceProtocol::deviceNamePath();
const QString kFw = DeviceProtocol::fwVersionPath();
const QString kMac = DeviceProtocol::macAddressPath();
const QString kHostile = QString::fromUtf8("Say \"hi\",\r\x1b]0;PWNED\x07 caf\xc3\xa9");

const QString kMacA = "02-06-00-00-00-0A";
const QString kMacB = "D0-C8-00-00-00-0B";
} // namespace

class TestRules : public QObject
{
    Q_OBJECT

private slots:
    void addressRange_data();
    void addressRange();
    void addressTexts_data();
    void addressTexts();
    void vendorPrefix_data();
    void vendorPrefix();
    void deviceReplies_data();
    void deviceReplies();
    void logTextIsOneQuotedLine_data();
    void logTextIsOneQuotedLine();
    void announcements_data();
    void announcements();
    void resolveQueue_data();
    void resolveQueue();
    void sweepEndsOnce_data();
    void sweepEndsOnce();
    void neighbourPresence_data();
    void neighbourPresence();
    void neighbourRoom_data();
    void neighbourRoom();
    void neighbourLookDue_data();
    void neighbourLookDue();
    void commandLine_data();
    void commandLine();
    void helperReports_data();
    void helperReports();
    void tableWriters_data();
    void tableWriters();
    void hostileOutput_data();
    void hostileOutput();
    void deviceStore();
    void neighbourBudget();
    void watchEvents_data();
    void watchEvents();
    void watchSchedule();
};

void TestRules::addressRange_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("netmask");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("last");
    QTest::addColumn<QString>("subnet"); // swept
    const auto add
        = [](const char *name, const QString &address, const QString &netmask, int count,
             const QString &first = {}, const QString &last = {}, const QString &subnet = {}) {
              QTest::newRow(name) << address << netmask << count << first << last << subnet;
          };
    add("/24", "192.168.1.37", "255.255.255.0", 254, "192.168.1.1", "192.168.1.254",
        "192.168.1.0/24");
    add("/22 has .255 and .0 inside", "10.1.2.3", "255.255.252.0", 1022, "10.1.0.1", "10.1.3.254",
        "10.1.0.0/22");
    add("/16 whole", "10.20.30.40", "255.255.0.0", 65534, "10.20.0.1", "10.20.255.254",
        "10.20.0.0/16");
    add("/8: its own /16", "10.20.30.40", "255.0.0.0", 65534, "10.20.0.1", "10.20.255.254",
        "10.20.0.0/16");
    add("/12: its own /16, at the subnet's start", "172.16.0.9", "255.240.0.0", 65534, "172.16.0.1",
        "172.16.255.254", "172.16.0.0/16");
    add("/0: its own /16", "10.20.30.40", "0.0.0.0", 65534, "10.20.0.1", "10.20.255.254",
        "10.20.0.0/16");
    add("/30", "192.168.1.1", "255.255.255.252", 2, "192.168.1.1", "192.168.1.2", "192.168.1.0/30");
    add("/31 empty", "192.168.1.37", "255.255.255.254", 0);
    add("/32 empty", "192.168.1.37", "255.255.255.255", 0);
    add("holes in the mask", "10.0.0.1", "255.0.255.0", 0);
    add("mask without dots", "192.168.1.37", "", 0);
    add("hostile mask", "1.1.1.1", "0.0.-2000000000.-5", 0);
}

void TestRules::addressRange()
{
    QFETCH(QString, address);
    QFETCH(QString, netmask);
    QFETCH(int, count);
    QFETCH(QString, first);
    QFETCH(QString, last);
    QFETCH(QString, subnet);
    const QVector<quint32> range = AddressRange::fromInterface(address, netmask);
    QCOMPARE(range.size(), count);
    QCOMPARE(AddressRange::sweptSubnet(address, netmask), subnet);
    if (!range.isEmpty()) {
        QCOMPARE(Ipv4Text::format(range.first()), first);
        QCOMPARE(Ipv4Text::format(range.last()), last);
        // Consecutive and ascending, and the interface's own address is not skipped.
        QCOMPARE(range.last() - range.first(), quint32(range.size() - 1));
        QVERIFY(range.contains(*Ipv4Text::parse(address)));
    }
}

void TestRules::addressTexts_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("readBack"); // empty: no address
    QTest::addColumn<bool>("unicast"); // a single host's address
    const auto add = [](const char *row, const QString &text, const QString &readBack,
                        bool unicast) { QTest::newRow(row) << text << readBack << unicast; };
    add("dotted", "198.18.0.10", "198.18.0.10", true);
    add("leading zeros are decimal", "010.001.000.001", "10.1.0.1", true);
    add("limited broadcast", "255.255.255.255", "255.255.255.255", false);
    add("this network", "0.1.2.3", "0.1.2.3", false);
    add("multicast", "224.0.0.251", "224.0.0.251", false);
    add("over 255", "1.2.3.256", "", false);
    add("short form", "10.1", "", false);
    add("blank", "1.2.3.4 ", "", false);
    add("sign", "1.2.+3.4", "", false);
    add("host name and path", "evil.example/login", "", false);
    add("empty", "", "", false);
}

void TestRules::addressTexts()
{
    QFETCH(QString, text);
    QFETCH(QString, readBack);
    QFETCH(bool, unicast);
    const std::optional<quint32> parsed = Ipv4Text::parse(text);
    QCOMPARE(parsed ? Ipv4Text::format(*parsed) : QString(), readBack);
    QCOMPARE(parsed && Ipv4Text::isUnicast(*parsed), unicast);
    if (parsed) {
        // A URL to a device carries exactly the parsed address, and asks for no compression,
        // which could inflate a small answer beyond every limit.
        const QNetworkRequest request = DeviceProtocol::request(*parsed, kName);
        QCOMPARE(request.url().toString(), "http://" + readBack + kName);
        QCOMPARE(DeviceProtocol::pathOf(request.url()), kName);
        QCOMPARE(request.rawHeader("Accept-Encoding"), QByteArray("identity"));
    }
}

void TestRules::vendorPrefix_data()
{
    QTest::addColumn<QString>("mac");
    QTest::addColumn<bool>("vendors"); // whether it is a vendor's
    QTest::newRow("0206") << "02-06-00-00-00-10" << true;
    QTest::newRow("d0c8") << "D0-C8-1A-2B-3C-4D" << true;
    QTest::newRow("08ea40 colons lower") << "08:ea:40:00:11:22" << true;
    QTest::newRow("0c8c24 dotted") << "0c8c.2400.1122" << true;
    QTest::newRow("08ea4 is not 08ea40") << "08-EA-41-00-11-22" << false;
    QTest::newRow("0c8c2 is not 0c8c24") << "0C-8C-25-00-11-22" << false;
    QTest::newRow("leading blank") << " D0-C8-1A-2B-3C-4D" << false;
    QTest::newRow("prefix later in text") << "00-D0-C8-1A-2B-3C" << false;
    QTest::newRow("short") << "D0" << false;
}

void TestRules::vendorPrefix()
{
    QFETCH(QString, mac);
    QFETCH(bool, vendors);
    QCOMPARE(VendorPrefix::matches(mac), vendors);
}

void TestRules::deviceReplies_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("value"); // "-": not accepted
    const QString octets = QStringLiteral("application/octet-stream");
    const auto add
        = [](const char *row, const QString &type, const QByteArray &body, const QString &path,
             const QString &value) { QTest::newRow(row) << type << body << path << value; };
    add("line feed removed", octets, "Encoder\n", kName, "Encoder");
    add("carriage return kept", octets, "2.1\r\n", kFw, "2.1\r");
    add("cut at NUL", octets, QByteArray("ab\0cd", 5), kFw, "ab");
    add("utf-8 name", octets, "Caf\xc3\xa9 \xe2\x98\x85", kName,
        QString::fromUtf8("Caf\xc3\xa9 \xe2\x98\x85"));
    add("latin-1 firmware", octets, "Caf\xc3\xa9", kFw, QString::fromLatin1("Caf\xc3\xa9"));
    add("latin-1 mac", octets, "\xd0-C8", kMac, QString::fromLatin1("\xd0-C8"));
    add("case and charset", "Application/Octet-Stream; charset=utf-8", "x", kFw, "x");
    add("text/plain", "text/plain", "x", kFw, "-");
    add("no type", "", "x", kFw, "-");
}

void TestRules::deviceReplies()
{
    QFETCH(QString, type);
    QFETCH(QByteArray, body);
    QFETCH(QString, path);
    QFETCH(QString, value);
    QCOMPARE(DeviceProtocol::isAcceptedContentType(type), value != "-");
    if (value != "-") {
        QCOMPARE(DeviceProtocol::decodeBody(body, path), value);
    }
}

void TestRules::logTextIsOneQuotedLine_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("logged");
    const auto add = [](const char *row, const QString &text, const QString &logged) {
        QTest::newRow(row) << text << logged;
    };
    add("line feed", "a\nINFO forged", "\"a\\nINFO forged\"");
    add("terminal escape", "\x1b[2J", "\"\\u001b[2J\"");
    add("quote and backslash", "a\"b\\", "\"a\\\"b\\\\\"");
    add("C1 control, direction override, line separator",
        QString(QChar(0x9b)) + QChar(0x202e) + QChar(0x2028), "\"\\u009b\\u202e\\u2028\"");
    add("utf-8 kept", QString::fromUtf8("Caf\xc3\xa9"), QString::fromUtf8("\"Caf\xc3\xa9\""));
    add("bounded", QString(2000, 'N'), "\"" + QString(1024, 'N') + "\"...(976 more)");
}

void TestRules::logTextIsOneQuotedLine()
{
    QFETCH(QString, text);
    QFETCH(QString, logged);
    QCOMPARE(LogText::quoted(text), logged);
}

void TestRules::announcements_data()
{
    // A resolved instance as the DNS-SD reply gives it: the host's address as looked up, the
    // interface value (none: empty), MAC, FW, the full name; and the row's ip, mac, fw and name.
    QTest::addColumn<QByteArrayList>("given");
    QTest::addColumn<QStringList>("row");
    // TXT values are bytes, %XX for one that is no character of its own; the full name is as
    // the daemon escapes it.
    const auto add = [](const char *row, const char *host, const char *interface, const char *mac,
                        const char *fw, const QByteArray &fullName, const QString &ip,
                        const QString &macText, const QString &fwText, const QString &name) {
        QTest::newRow(row) << QByteArrayList { host, interface,
                                               QByteArray::fromPercentEncoding(mac),
                                               QByteArray::fromPercentEncoding(fw), fullName }
                           << QStringList { ip, macText, fwText, name };
    };
    add("typical", "192.168.1.20", "eth0:10.0.0.1", "d0:c8:1a:2b:3c:4d", "1.0.3",
        "Cam1._encoder._tcp.local.", "192.168.1.20", "D0-C8-1A-2B-3C-4D", "1.0.3", "Cam1");
    add("no host address: the interface value; controls removed", "", "eth0:10.0.0.2",
        "00:11:22:33:44:55:66", "2.0\n", "Ca\\010m2._encoder._tcp.local.", "10.0.0.2",
        "00-11-22-33-44-55", "2.0", "Cam2");
    add("other domain: the whole name", "", nullptr, "00:11", "", "K\\032A._encoder._tcp.example.",
        "", "00-11", "", "K A._encoder._tcp.example.");
    add("space, dot and backslash escaped", "", nullptr, "", "",
        "Roof\\032Cam\\.1\\\\._encoder._tcp.local.", "", "", "", "Roof Cam.1\\");
    add("a star in decimal escapes; UTF-8 in the TXT values", "", nullptr, "08:ea:40:%C3%9C",
        "%C3%9Cber 3", "\\226\\152\\133\\032A._encoder._tcp.local.", "", "08-EA-40-\u00dc",
        "\u00dcber 3", "\u2605 A");
    // What is no UTF-8 must not turn into characters that end a line or drive a terminal, nor
    // into a character of its own.
    add("invalid UTF-8: U+FFFD in the name, Latin-1 in the TXT values", "", nullptr, "d0:c8:%9B%DC",
        "%DCber%9B%FF", "Bad\\255\\192\\138\\027[2J._encoder._tcp.local.", "", "D0-C8-\u00dc",
        "\u00dcber\u00ff", "Bad\ufffd\ufffd\ufffd[2J");
    add("a suffix look-alike inside the name", "", nullptr, "", "",
        "a\\._encoder\\._tcp\\.local\\.._encoder._tcp.local.", "", "", "",
        "a._encoder._tcp.local.");
    // The announcer writes the interface value and the address record: only a plain address
    // of a single remote host may become the row's.
    add("host name, port and path", "", "eth0:evil.example:80/x", "", "", "", "", "", "", "");
    add("0.0.0.0, then octal-looking", "0.0.0.0", "eth0:010.0.0.1", "", "", "", "", "", "", "");
    add("loopback, then broadcast", "127.0.0.1", "eth0:255.255.255.255", "", "", "", "", "", "",
        "");
    add("five groups, then over 255", "1.2.3.4.5", "eth0:10.0.0.256", "", "", "", "", "", "", "");
}

void TestRules::announcements()
{
    QFETCH(QByteArrayList, given);
    QFETCH(QStringList, row);
    const QString host = QString::fromLatin1(given[0]);
    QCOMPARE((QStringList { ResolveReply::addressFrom(host, given[1], !given[1].isEmpty()),
                            ResolveReply::macFrom(given[2]), ResolveReply::firmwareFrom(given[3]),
                            ResolveReply::nameFrom(given[4]) }),
             row);
}

void TestRules::resolveQueue_data()
{
    // Two resolves at a time, three waiting. Steps: +x heard of (W waiting, K known already), *x
    // heard of again after it was resolved before, n take the next (its name, or _ for none), fx
    // the resolve of x ended, rx it ended without an address, -x x withdrawn, tN the clock at N
    // seconds.
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("got");
    QTest::newRow("once, bounded: a full line drops its oldest")
        << QStringList { "+a", "+a", "+b", "+c", "+d", "n", "+d", "+a" }
        << QStringList { "W", "K", "W", "W", "W", "d", "K", "W" };
    QTest::newRow("slots; the newest first, so that a flood holds up nothing after it")
        << QStringList { "+a", "+b", "+c", "n", "n", "n", "fc", "n", "n" }
        << QStringList { "W", "W", "W", "c", "b", "_", "a", "_" };
    QTest::newRow("heard of again after its end")
        << QStringList { "+a", "n", "fa", "+a", "n" } << QStringList { "W", "a", "W", "a" };
    QTest::newRow("tried again later, behind what is new, each time later")
        << QStringList { "+a", "n", "ra", "+a", "n",  "t14", "n", "t15", "+b",
                         "n",  "n", "fb", "n",  "ra", "t44", "n", "t45", "n" }
        << QStringList { "W", "a", "K", "_", "_", "W", "b", "_", "a", "_", "a" };
    QTest::newRow("resolved before: ahead of newer instances, the oldest dropped last")
        << QStringList { "+a", "*b", "+c", "+d", "n", "n", "fb", "n", "n" }
        << QStringList { "W", "W", "W", "W", "b", "d", "c", "_" };
    QTest::newRow("withdrawn: neither resolved nor tried again")
        << QStringList { "+a", "-a", "n", "+b", "n", "-b", "rb", "t600", "n", "+b" }
        << QStringList { "W", "_", "W", "b", "_", "W" };
}

void TestRules::resolveQueue()
{
    QFETCH(QStringList, steps);
    QFETCH(QStringList, got);
    ResolveQueue queue(2, 3);
    qint64 now = 0;
    QStringList results;
    for (const QString &step : steps) {
        ResolveQueue::Instance instance { 0, step.mid(1).toLatin1(), "_encoder._tcp", "local." };
        QVERIFY2(QString("+*fnr-t").contains(step[0]), qPrintable(step));
        if (step[0] == '+' || step[0] == '*') {
            results << QString("WK").at(int(queue.add(instance, step[0] == '*')));
        } else if (step[0] == 'f') {
            queue.finished(instance);
        } else if (step[0] == 'r') {
            queue.retryLater(instance, now);
        } else if (step[0] == '-') {
            queue.forget(instance);
        } else if (step[0] == 't') {
            now = step.mid(1).toLongLong() * 1000;
        } else {
            results << (queue.takeNext(&instance, now) ? QString::fromLatin1(instance.name) : "_");
        }
    }
    QCOMPARE(results, got);
}

void TestRules::sweepEndsOnce_data()
{
    // Three addresses. Steps: f one done, x one failed, s the user's stop, a the interface gone,
    // e the check for an empty sweep.
    QTest::addColumn<QString>("steps");
    QTest::addColumn<int>("ends"); // reported
    QTest::addColumn<int>("losses"); // of the interface, reported
    QTest::addColumn<int>("failures");
    QTest::newRow("all done") << "fxfe" << 1 << 0 << 1;
    QTest::newRow("stopped: the stop ends it, the last worker does not") << "fsff" << 0 << 0 << 0;
    QTest::newRow("stopped after the end") << "fffs" << 1 << 0 << 0;
    QTest::newRow("interface gone, then the workers end") << "faffe" << 1 << 1 << 0;
    QTest::newRow("interface gone after a stop") << "sa" << 0 << 0 << 0;
}

void TestRules::sweepEndsOnce()
{
    QFETCH(QString, steps);
    QFETCH(int, ends);
    QFETCH(int, losses);
    QFETCH(int, failures);
    SweepState sweep(3, 1);
    int ended = 0;
    int lost = 0;
    connect(&sweep, &SweepState::ended, [&] { ++ended; });
    connect(&sweep, &SweepState::interfaceLost, [&] { ++lost; });
    using Step = void (SweepState::*)();
    const Step kinds[] = { &SweepState::finishAddress, &SweepState::failAddress, &SweepState::stop,
                           &SweepState::abandon, &SweepState::endIfEmpty };
    for (const QChar step : steps) {
        const int index = QString("fxsae").indexOf(step);
        QVERIFY2(index >= 0, qPrintable(QString(step)));
        (sweep.*kinds[index])();
    }
    QCOMPARE(ended, ends);
    QCOMPARE(lost, losses);
    QCOMPARE(sweep.failures(), failures);
}

void TestRules::neighbourPresence_data()
{
    QTest::addColumn<int>("requestsPerRound");
    // The entry when the watch begins: M missing, R resolving, F failed, H holding an address
    // confirmed that many ms ago.
    QTest::addColumn<QString>("startState");
    QTest::addColumn<qint64>("confirmedAgoMs");
    // Each "entry@elapsed[e][k] = verdict[/action] [rN dN]": the entry as above, e the echo
    // answered, k the knock answered; rounds and deadline when given.
    QTest::addColumn<QStringList>("looks");
    QTest::newRow("resolved now") << 3 << "M" << 0ll << QStringList { "H0@3 = answered" };
    QTest::newRow("cached: no answer without a fresh sign, a knock is sent")
        << 3 << "H" << 5000ll << QStringList { "H5003@3 = wait/knock", "H5005@5k = answered" };
    QTest::newRow("cached: the echo answered")
        << 3 << "H" << 5000ll << QStringList { "H5003@3e = answered" };
    QTest::newRow("cached: confirmed after the start")
        << 3 << "H" << 5000ll << QStringList { "H10@400 = answered" };
    QTest::newRow("cached: one confirmation read twice is not fresh")
        << 3 << "H" << 5000ll
        << QStringList { "H5030@40 = wait/knock", "H5290@300 = wait", "H6300@1300 = giveup" };
    QTest::newRow("a failed round gets a second, then its time")
        << 1 << "M" << 0ll
        << QStringList { "M@1 = wait/ask r1 d1251", "F@1300 = wait/ask r2 d1550",
                         "F@1600 = giveup" };
    QTest::newRow("the kernel's own round counts")
        << 3 << "R" << 0ll << QStringList { "F@1000 = wait r1 d1250", "F@1300 = giveup" };
    QTest::newRow("three requests a round are enough")
        << 3 << "F" << 0ll << QStringList { "F@5 = wait/ask r1 d1255", "F@1300 = giveup" };
}

void TestRules::neighbourPresence()
{
    using namespace NeighbourPresence;
    QFETCH(int, requestsPerRound);
    QFETCH(QString, startState);
    QFETCH(qint64, confirmedAgoMs);
    QFETCH(QStringList, looks);
    const auto stateOf = [](QChar letter) { return EntryState(QString("MRFH").indexOf(letter)); };
    const Timing timing { 1000, requestsPerRound };
    const Start start { stateOf(startState.at(0)), confirmedAgoMs };
    Progress progress = begin(start, timing);
    static const QRegularExpression look(
        "^([MRFH])(\\d*)@(\\d+)(e?)(k?) = (answered|wait|giveup)(?:/(knock|ask))?(?: r(\\d+) "
        "d(\\d+))?$");
    for (const QString &step : looks) {
        const QRegularExpressionMatch m = look.match(step);
        QVERIFY2(m.hasMatch(), qPrintable(step));
        const Decision decision = decide(start, progress,
                                         { stateOf(m.captured(1).at(0)), m.captured(2).toLongLong(),
                                           m.captured(3).toLongLong(), !m.captured(4).isEmpty(),
                                           !m.captured(5).isEmpty() },
                                         timing);
        const QStringList verdicts { "answered", "wait", "giveup" };
        const QStringList actions { "", "knock", "ask" };
        QCOMPARE(int(decision.verdict), verdicts.indexOf(m.captured(6)));
        QCOMPARE(int(decision.action), actions.indexOf(m.captured(7)));
        if (!m.captured(8).isEmpty()) {
            QCOMPARE(decision.progress.rounds, m.captured(8).toInt());
            QCOMPARE(decision.progress.deadlineMs, m.captured(9).toLongLong());
        }
        progress = decision.progress;
    }
}

void TestRules::neighbourRoom_data()
{
    QTest::addColumn<int>("limit");
    QTest::addColumn<int>("entries");
    QTest::addColumn<int>("reclaimable");
    QTest::addColumn<int>("held");
    QTest::addColumn<int>("room"); // given
    QTest::newRow("empty: a quarter of the three quarters free") << 1024 << 0 << 0 << 0 << 192;
    QTest::newRow("the last free entry is given") << 1024 << 767 << 0 << 0 << 1;
    QTest::newRow("three quarters busy: the rest is the machine's") << 1024 << 768 << 0 << 0 << 0;
    QTest::newRow("past the limit") << 1024 << 1100 << 0 << 0 << 0;
    QTest::newRow("others' entries count, ours once") << 1024 << 700 << 0 << 100 << 17;
    QTest::newRow("entries the kernel would drop do not") << 1024 << 1024 << 600 << 300 << 86;
    QTest::newRow("held entries not in the table yet count") << 1024 << 100 << 0 << 500 << 67;
    QTest::newRow("more reclaimable than entries: read apart") << 1024 << 50 << 80 << 0 << 192;
    QTest::newRow("a lowered limit") << 16 << 0 << 0 << 0 << 3;
}

void TestRules::neighbourRoom()
{
    QFETCH(int, limit);
    QFETCH(int, entries);
    QFETCH(int, reclaimable);
    QFETCH(int, held);
    QFETCH(int, room);
    QCOMPARE(NeighbourShare::room({ limit, entries, reclaimable }, held), room);
}

void TestRules::neighbourLookDue_data()
{
    QTest::addColumn<qint64>("sinceLookMs"); // -1: never looked
    QTest::addColumn<int>("roomLeft"); // of that look
    QTest::addColumn<bool>("due");
    QTest::newRow("never looked") << -1ll << 0 << true;
    QTest::newRow("room used up: not before the gap") << 19ll << 0 << false;
    QTest::newRow("room used up, the gap over") << 20ll << 0 << true;
    QTest::newRow("room left of a young look") << 99ll << 5 << false;
    QTest::newRow("room left of an old look") << 100ll << 5 << true;
}

void TestRules::neighbourLookDue()
{
    QFETCH(qint64, sinceLookMs);
    QFETCH(int, roomLeft);
    QFETCH(bool, due);
    QCOMPARE(NeighbourShare::lookDue(sinceLookMs, roomLeft), due);
}

void TestRules::commandLine_data()
{
    // The arguments, split at each space (a trailing space: an empty last one), and what they ask
    // for: the command, then for a scan its type, format, wait in ms, interface and range; or
    // "usage: " and the error.
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("meaning");
    const auto add = [](const char *name, const QString &arguments, const QString &meaning) {
        QTest::newRow(name) << (arguments.isEmpty() ? QStringList() : arguments.split(' '))
                            << meaning;
    };
    add("nothing: the window", "", "window");
    add("the debug log with the window", "--verbose", "window verbose");
    add("Qt's window options", "-platform offscreen --reverse", "window");
    add("a scan, defaults", "--scan arp", "scan 1 table 3000");
    add("an mDNS scan, both spellings", "--scan=mdns --format json --wait 0.0001 --verbose",
        "scan 3 json 1 verbose");
    add("a sweep of a range from an interface", "--scan http --interface=lan0 --range 10.20.0.0/16",
        "scan 2 table 3000 lan0 10.20.0.0/16");
    add("an address", "--scan http --interface 198.18.0.1", "scan 2 table 3000 198.18.0.1");
    add("a /32", "--scan arp --range 198.18.0.7/32", "scan 1 table 3000 198.18.0.7/32");
    add("list, csv", "--list-interfaces --format csv", "list");
    add("help wins", "--scan arp -h", "help");
    add("version", "-v", "version");
    const QString wait = "usage: --wait needs a number of seconds above 0, up to 3600";
    add("wait not a number", "--scan mdns --wait nan", wait);
    add("wait zero", "--scan mdns --wait 0", wait);
    add("wait too long", "--scan mdns --wait 3600.5", wait);
    add("empty interface", "--scan arp --interface ", "usage: --interface needs a value");
    add("empty inline value", "--scan=", "usage: --scan needs a value");
    add("value missing at the end", "--scan", "usage: --scan needs a value");
    add("repeated option", "--scan arp --scan http", "usage: --scan is given more than once");
    add("unknown option", "--bogus", "usage: unknown option '--bogus'");
    add("stray argument", "--scan arp extra", "usage: unexpected argument 'extra'");
    add("a lone dash", "-", "usage: unexpected argument '-'");
    add("octet over 255", "--scan arp --interface 198.18.0.300",
        "usage: '198.18.0.300' is not an IPv4 address");
    add("other scripts' digits", "--identify \u0661.18.0.1",
        "usage: '\u0661.18.0.1' is not an IPv4 address");
    add("two commands", "--scan arp --list-interfaces",
        "usage: give one of --scan, --list-interfaces, --identify");
    add("options without a command", "--format json",
        "usage: give one of --scan, --list-interfaces, --identify");
    add("unknown scan", "--scan ping", "usage: unknown scan type 'ping'");
    add("unknown format", "--scan arp --format xml", "usage: unknown format 'xml'");
    add("a switch with a value", "--scan arp --verbose=1", "usage: --verbose takes no value");
    add("window options with a scan", "--scan arp -style fusion",
        "usage: Qt's window options apply to the window only");
    // A range is a network's own address and a prefix of at most 16 bits' hosts.
    add("host bits set", "--scan arp --range 198.18.0.5/24",
        "usage: 198.18.0.5/24 has host bits set; did you mean 198.18.0.0/24?");
    add("wider than a /16", "--scan http --range 10.0.0.0/8",
        "usage: 10.0.0.0/8 is wider than a /16");
    for (const QString &range :
         QString("198.18.0.0 198.18.0.0/024 198.18.0.0/33 x/24").split(' ')) {
        add(qPrintable(range), "--scan arp --range " + range,
            QString("usage: '%1' is not a range: network/prefix, such as 192.168.0.0/24")
                .arg(range));
    }
    // An option where it does nothing is an error, never silently ignored.
    add("wait with a sweep", "--scan http --wait 2", "usage: --wait does not apply to --scan http");
    add("an interface for the browse", "--scan mdns --interface lan0",
        "usage: --interface does not apply to --scan mdns");
    add("a range for the browse", "--scan mdns --range 10.0.0.0/24",
        "usage: --range does not apply to --scan mdns");
    add("a range for the list", "--list-interfaces --range 10.0.0.0/24",
        "usage: --range does not apply to --list-interfaces");
    add("a format for identify", "--identify 198.18.0.10 --format json",
        "usage: --format does not apply to --identify");
    // A watch: ARP or mDNS, until interrupted or for a time; the mDNS watch has an interface.
    add("a watch", "--scan arp --watch", "scan 1 table 3000 watch 0 60");
    add("an mDNS watch on an interface, for a while",
        "--scan mdns --watch --interface lan0 --duration 1.5",
        "scan 3 table 3000 lan0 watch 1500 60");
    add("a watch's sweep period", "--scan arp --watch --sweep-period 10",
        "scan 1 table 3000 watch 0 10");
    add("Http Download has no watch", "--scan http --watch",
        "usage: --watch does not apply to --scan http");
    add("a duration without a watch", "--scan arp --duration 5", "usage: --duration needs --watch");
    add("the browse's wait in a watch", "--scan mdns --watch --wait 2",
        "usage: --wait does not apply to --scan mdns --watch");
    add("a sweep period for the mDNS watch", "--scan mdns --watch --sweep-period 10",
        "usage: --sweep-period does not apply to --scan mdns --watch");
    add("no duration", "--scan arp --watch --duration 0",
        "usage: --duration needs a number of seconds above 0, up to 604800");
    add("a sweep period too short", "--scan arp --watch --sweep-period 5",
        "usage: --sweep-period needs a whole number of seconds, 10 to 3600");
    add("a watch of the list", "--list-interfaces --watch",
        "usage: --watch does not apply to --list-interfaces");
}

void TestRules::commandLine()
{
    using Command = CommandLine::Request::Command;
    QFETCH(QStringList, arguments);
    QFETCH(QString, meaning);
    const CommandLine::Parsed parsed = CommandLine::parse(arguments);
    QString got;
    if (!parsed.request) {
        got = "usage: " + parsed.error;
    } else {
        const CommandLine::Request &r = *parsed.request;
        got = QStringList { "window", "scan", "list", "identify", "help", "version" }.at(
            int(r.command));
        if (r.command == Command::Scan) {
            got += QString(" %1 %2 %3")
                       .arg(int(r.scanType))
                       .arg(QStringList { "table", "json", "csv" }.at(int(r.format)))
                       .arg(r.waitMs);
            for (const QString &value : { r.interface, r.range }) {
                got += value.isEmpty() ? QString() : ' ' + value;
            }
            got += r.watch ? QString(" watch %1 %2").arg(r.durationMs).arg(r.sweepPeriodS)
                           : QString();
        }
        got += r.verbose ? " verbose" : "";
    }
    QCOMPARE(got, meaning);
}

void TestRules::helperReports_data()
{
    QTest::addColumn<QByteArray>("line"); // of the ARP helper
    QTest::addColumn<QString>("taken"); // what the program takes from it; "-": the session fails
    const char *const rows[][3] = {
        { "ready", "ready D0-C8-00-00-00-11 198.18.0.1", "ready 198.18.0.1 D0C800000011" },
        { "reply", "reply 198.18.0.20 08-EA-40-00-00-21", "reply 198.18.0.20 08EA40000021" },
        { "heard", "heard 10.77.0.5 0C-8C-24-00-00-05", "heard 10.77.0.5 0C8C24000005" },
        { "idle", "idle", "idle" },
        { "error", "error unavailable packet socket: Operation not permitted", "error" },
        { "error of no known kind", "error packet socket: Operation not permitted", "-" },
        { "lower-case hex", "reply 198.18.0.20 08-ea-40-00-00-21", "-" },
        { "leading zero", "reply 198.18.0.020 08-EA-40-00-00-21", "-" },
        { "octet over 255", "reply 198.18.0.256 08-EA-40-00-00-21", "-" },
        { "two spaces", "reply 198.18.0.20  08-EA-40-00-00-21", "-" },
        { "trailing space", "idle ", "-" },
        { "colons", "reply 198.18.0.20 08:EA:40:00:00:21", "-" },
        { "five pairs", "reply 198.18.0.20 08-EA-40-00-21", "-" },
        { "fields swapped", "ready 198.18.0.1 D0-C8-00-00-00-11", "-" },
        { "upper-case word", "IDLE", "-" },
        { "error without text", "error lost", "-" },
        { "error with an escape", "error \x1b[2J", "-" },
        { "not hex", "reply 198.18.0.20 08-EA-40-00-00-2G", "-" },
        { "five groups", "reply 1.2.3.4.5 08-EA-40-00-00-21", "-" },
        { "empty", "", "-" },
    };
    for (const auto &row : rows) {
        QTest::newRow(row[0]) << QByteArray(row[1]) << row[2];
    }
}

void TestRules::helperReports()
{
    QFETCH(QByteArray, line);
    QFETCH(QString, taken);
    const std::optional<ArpEngine::Report> report = ArpEngine::parseReport(line);
    QString got = QStringLiteral("-");
    if (report) {
        got = QStringList { "ready", "reply", "heard", "idle", "error" }.at(int(report->kind));
        if (!report->mac.isEmpty()) {
            got += ' ' + Ipv4Text::format(report->address) + ' ' + report->mac.toHex().toUpper();
        } else if (report->kind == ArpEngine::Report::Kind::Ready) {
            got += " without a MAC";
        }
    }
    QCOMPARE(got, taken);
}

void TestRules::tableWriters_data()
{
    // What a table of two devices reads as (event -1), or one event of a watch.
    QTest::addColumn<int>("format");
    QTest::addColumn<int>("event");
    QTest::addColumn<QByteArray>("text");
    using F = DeviceTableWriter::Format;
    const auto add = [](const char *row, F format, int event, const QByteArray &text) {
        QTest::newRow(row) << int(format) << event << text;
    };
    // A device whose text attacks: quotes, a comma, a carriage return, a terminal title escape,
    // and a firmware a spreadsheet would take for a formula; it shares its address.
    const QByteArray name = "Say \\\"hi\\\",\\r\\u001b]0;PWNED\\u0007 caf\xc3\xa9";
    add("table", F::Table, -1,
        "IP Address   Mac Address        FW Version  Device Name" + QByteArray(29, ' ')
            + "Note\n198.18.0.9   D0-C8-00-00-00-09  1.0         Cam" + QByteArray(37, ' ')
            + "no encoder answer\n198.18.0.10  02-06-00-00-00-10  =1+2" + QByteArray(8, ' ') + name
            + "  conflict\n");
    add("json", F::Json, -1,
        "[{\"answered\":false,\"firmware\":\"1.0\",\"ip\":\"198.18.0.9\","
        "\"mac\":\"D0-C8-00-00-00-09\",\"name\":\"Cam\"},{\"conflict\":true,"
        "\"firmware\":\"=1+2\",\"ip\":\"198.18.0.10\",\"mac\":"
        "\"02-06-00-00-00-10\",\"name\":"
        "\"Say \\\"hi\\\",\\r\\u001b]0;PWNED\\u0007 caf\xc3\xa9\"}]");
    add("csv", F::Csv, -1,
        "ip,mac,firmware,name,note\r\n198.18.0.9,D0-C8-00-00-00-09,1.0,"
        "Cam,no encoder answer\r\n198.18.0.10,02-06-00-00-00-10,'=1+2,\"Say \"\"hi\"\","
        "\\r\\u001b]0;PWNED\\u0007 caf\xc3\xa9\",conflict\r\n");
    const QByteArray time = "2026-12-01T10:11:12.345Z";
    add("JSON Lines: a moved device, its row as the table's JSON has it", F::Json,
        int(Watch::Event::Changed),
        "{\"event\":\"changed\",\"firmware\":\"=1+2\",\"ip\":\"198.18.0.11\",\"mac\":"
        "\"02-06-00-00-00-0A\",\"movedFrom\":\"198.18.0.10\",\"name\":\"Cam\\r\\u009b\",\"time\":\""
            + time + "\"}\n");
    add("JSON Lines: the interface", F::Json, int(Watch::Event::InterfaceLost),
        "{\"event\":\"interface-lost\",\"interface\":\"lan0\",\"ip\":\"198.18.0.1\",\"time\":\""
            + time + "\"}\n");
    add("JSON Lines: the end, and why", F::Json, int(Watch::Event::End),
        "{\"event\":\"end\",\"message\":\"lan0 came back\",\"reason\":\"readdressed\",\"time\":\""
            + time + "\"}\n");
    add("CSV: the note says where it was; no formula", F::Csv, int(Watch::Event::Changed),
        time + ",changed,198.18.0.11,02-06-00-00-00-0A,'=1+2,Cam\\r\\u009b,was 198.18.0.10\r\n");
    add("CSV: the end", F::Csv, int(Watch::Event::End),
        time + ",end,,,,,readdressed: lan0 came back\r\n");
    add("table: a timestamped line, escaped", F::Table, int(Watch::Event::Changed),
        time + "  changed  198.18.0.11  02-06-00-00-00-0A  =1+2  Cam\\r\\u009b  was 198.18.0.10\n");
    add("table: the interface", F::Table, int(Watch::Event::InterfaceBack),
        time + "  interface-back  198.18.0.1  interface lan0\n");
}

void TestRules::tableWriters()
{
    QFETCH(int, format);
    QFETCH(int, event);
    QFETCH(QByteArray, text);
    const auto written = [format, event]() -> QByteArray {
        const auto f = DeviceTableWriter::Format(format);
        if (event < 0) {
            QVector<DeviceRow> rows { { "198.18.0.9", "D0-C8-00-00-00-09", "1.0", "Cam" },
                                      { "198.18.0.10", "02-06-00-00-00-10", "=1+2", kHostile } };
            rows[0].answered = false;
            rows[1].conflict = true;
            const QByteArray table = DeviceTableWriter::write(f, DeviceTableWriter::devices(rows));
            return f == DeviceTableWriter::Format::Json
                ? QJsonDocument::fromJson(table).toJson(QJsonDocument::Compact)
                : table;
        }
        DeviceTableWriter::EventLine given;
        given.time = QDateTime::fromString("2026-12-01T10:11:12.345Z", Qt::ISODateWithMs);
        given.event = Watch::Event(event);
        given.row = { "198.18.0.11", kMacA, "=1+2", QString("Cam\r") + QChar(0x9b) };
        given.row.movedFrom = "198.18.0.10";
        if (given.event == Watch::Event::InterfaceLost
            || given.event == Watch::Event::InterfaceBack) {
            given.row = { "198.18.0.1", "", "", "" };
            given.interfaceName = "lan0";
        }
        given.end = Watch::End::Readdressed;
        given.message = "lan0 came back";
        return DeviceTableWriter::eventLine(f, given);
    };
    QCOMPARE(written(), text);
    // A stream of events has a header of its own in CSV alone.
    QCOMPARE(DeviceTableWriter::eventHeader(DeviceTableWriter::Format(format)),
             QByteArray(format == int(DeviceTableWriter::Format::Csv)
                            ? "time,event,ip,mac,firmware,name,note\r\n"
                            : ""));
}

void TestRules::hostileOutput_data()
{
    QTest::addColumn<QString>("text");
    const auto add = [](const char *row, const QString &text) { QTest::newRow(row) << text; };
    add("OSC title, bell, CSI clear", "\x1b]0;PWNED\x07\x1b[2J");
    add("one-character CSI, as a Latin-1 firmware's 0x9B byte reads", QString(QChar(0x9b)) + "2J");
    add("DEL and C1", QString(QChar(0x7f)) + QChar(0x85) + QChar(0x9f));
    add("bidi embeddings, overrides and isolates",
        QString::fromUtf8("ab\u202a\u202b\u202c\u202d\u202e\u2066cd\u2069\u061c"));
    add("zero-width and byte order mark", QString::fromUtf8("a\u200bb\u200dc\u2060\ufeffd"));
    add("line and paragraph separators", QString::fromUtf8("a\u2028b\u2029"));
    add("formula", "=HYPERLINK(\"http://198.51.100.7/x\",\"click\")");
    add("formula, plus, at, minus, tab, CR", "+1|@SUM(A1)|-2|\tx|\rx");
    add("an escape's own text stays apart", "\\u001b \\\\");
    add("invalid UTF-8 as decoded", DeviceProtocol::decodeBody("\xff\xfe\xc3(", kName));
}

void TestRules::hostileOutput()
{
    QFETCH(QString, text);
    // Each field as a device could send it, in every column a device writes.
    QVector<DeviceRow> rows;
    for (const QString &part : text.split('|')) {
        rows.append({ "198.18.0.10", part, part, part });
    }
    for (const auto format : { DeviceTableWriter::Format::Table, DeviceTableWriter::Format::Json,
                               DeviceTableWriter::Format::Csv }) {
        const QByteArray bytes = DeviceTableWriter::write(format, DeviceTableWriter::devices(rows));
        const QString written = QString::fromUtf8(bytes);
        QCOMPARE(written.toUtf8(), bytes); // well-formed UTF-8
        // Nothing a terminal or a reader acts on (controls, format characters, line and
        // paragraph separators, as Unicode classes them), but the format's own line ends.
        for (const QChar c : written) {
            const bool lineEnd
                = c == '\n' || (c == '\r' && format == DeviceTableWriter::Format::Csv);
            const QChar::Category category = c.category();
            QVERIFY2(lineEnd
                         || (category != QChar::Other_Control && category != QChar::Other_Format
                             && category != QChar::Separator_Line
                             && category != QChar::Separator_Paragraph),
                     qPrintable(QString("U+%1 raw in format %2")
                                    .arg(c.unicode(), 4, 16, QChar('0'))
                                    .arg(int(format))));
        }
        if (format == DeviceTableWriter::Format::Json) {
            // A JSON reader sees the very strings the device sent.
            const QJsonArray array = QJsonDocument::fromJson(bytes).array();
            QCOMPARE(array.size(), rows.size());
            for (int i = 0; i < rows.size(); ++i) {
                QCOMPARE(array.at(i).toObject().value("name").toString(), rows.at(i).name);
            }
        }
        if (format == DeviceTableWriter::Format::Csv) {
            // No field starts as a formula: after the optional quote, an apostrophe comes first.
            for (const QString &line : written.split("\r\n").mid(1)) {
                for (const QString &field : line.split(',')) {
                    const QString bare = field.startsWith('"') ? field.mid(1) : field;
                    QVERIFY2(bare.isEmpty() || !QString("=+-@").contains(bare[0]),
                             qPrintable(line));
                }
            }
        }
    }
}

void TestRules::deviceStore()
{
    using Admission = DeviceStore::Admission;
    using Kind = DeviceAnswer::Kind;
    using Endpoint = DeviceAnswer::Endpoint;
    const quint32 nine = *Ipv4Text::parse("198.18.0.9");
    const quint32 ten = *Ipv4Text::parse("198.18.0.10");
    const quint32 hundred = *Ipv4Text::parse("198.18.0.100");
    DeviceStore store;
    QAbstractItemModelTester tester(&store, QAbstractItemModelTester::FailureReportingMode::QtTest);
    int shown = 0;
    connect(&store, &DeviceStore::shown, [&shown] { ++shown; });
    const auto report = [](quint32 address, const QString &mac) {
        return DeviceStore::Report { address, mac, QString(), QString() };
    };
    // The vendor test comes before the once-per-scan test; a second MAC on an address is a
    // second device, the same MAC in another letter case is not.
    QCOMPARE(store.admit(report(nine, "00-11-22-33-44-55")), Admission::Rejected);
    QCOMPARE(store.admit(report(nine, "D0-C8-00-00-00-09")), Admission::Ask);
    QCOMPARE(store.admit(report(nine, "d0-c8-00-00-00-09")), Admission::Rejected);
    QCOMPARE(store.admit(report(ten, "02-06-00-00-00-10")), Admission::Ask);
    QCOMPARE(store.admit(report(hundred, "08-EA-40-00-00-64")), Admission::Ask);
    QCOMPARE(store.otherHostCount(), 1);
    // A row once name and firmware have come, a failure counting as an empty value, an ignored
    // answer not at all.
    store.answer(nine, { Endpoint::DeviceName, Kind::Value, "Lobby" });
    store.answer(nine, { Endpoint::FwVersion, Kind::Ignored, "x" });
    QCOMPARE(store.rowCount(), 0);
    store.answer(nine, { Endpoint::FwVersion, Kind::Failed, QString() });
    QCOMPARE(store.rows(),
             (QVector<DeviceRow> { { "198.18.0.9", "D0-C8-00-00-00-09", "", "Lobby" } }));
    // A device that gave no valid answer to either question is marked, and keeps its row.
    store.answer(hundred, { Endpoint::DeviceName, Kind::Failed, QString() });
    store.answer(hundred, { Endpoint::FwVersion, Kind::Ignored, QString() });
    store.answer(ten, { Endpoint::DeviceName, Kind::Value, "Cam" });
    // The end of a sweep: incomplete devices in address text order (.10 before .100), with
    // firmware and name empty even when one of them came.
    const QVector<DeviceRow> incomplete = store.showIncomplete();
    DeviceRow mute { "198.18.0.100", "08-EA-40-00-00-64", "", "" };
    mute.answered = false;
    QCOMPARE(incomplete,
             (QVector<DeviceRow> { { "198.18.0.10", "02-06-00-00-00-10", "", "" }, mute }));
    QCOMPARE(mute.note(), QString("no encoder answer"));
    // A second device on .10: both rows show the conflict and neither a name, also after an
    // answer that would complete one of them.
    QCOMPARE(store.admit(report(ten, "0C-8C-24-00-00-11")), Admission::Conflict);
    store.answer(ten, { Endpoint::FwVersion, Kind::Value, "1.0" });
    DeviceRow twinA { "198.18.0.10", "02-06-00-00-00-10", "", "" };
    DeviceRow twinB { "198.18.0.10", "0C-8C-24-00-00-11", "", "" };
    twinA.conflict = twinB.conflict = true;
    QCOMPARE(store.rows(), (QVector<DeviceRow> { store.rows().at(0), twinA, twinB, mute }));
    QCOMPARE(store.conflictCount(), 1);
    QCOMPARE(shown, 5);
    // An announcement shows at once, its NULL texts emptied; one that moves away takes its row
    // along, and the device left on the address is no longer in a conflict.
    DeviceStore::Report announced { nine, "08-EA-40-00-00-99", "xNULLx", "Cam NULL" };
    announced.announced = true;
    QCOMPARE(store.admit(announced), Admission::Conflict);
    QCOMPARE(store.rows().at(0), (DeviceRow { "198.18.0.9", "08-EA-40-00-00-99", "", "", true }));
    store.withdraw(nine, "08-ea-40-00-00-99");
    QCOMPARE(store.rows().at(0), (DeviceRow { "198.18.0.9", "D0-C8-00-00-00-09", "", "Lobby" }));
    QCOMPARE(store.rowCount(), 4);
    QCOMPARE(store.admit(announced), Admission::Conflict);
    store.clear();
    QCOMPARE(store.rowCount(), 0);
    QCOMPARE(store.admit(report(nine, "D0-C8-00-00-00-09")), Admission::Ask);
}

void TestRules::neighbourBudget()
{
    // A table of 16 entries that holds what the budget gave out: 12 of them for sweeps.
    int entries = 0;
    bool readable = true;
    quint64 refusals = 40;
    NeighbourBudget budget([&] {
        return NeighbourBudget::Look { readable, { 16, entries, 0 }, refusals };
    });
    const std::atomic<bool> stop { true };
    const std::atomic<bool> running { false };
    // A holder that comes back after its reservation expired (a starved process) must touch
    // nothing that is gone: under AddressSanitizer this catches a dangling reservation.
    const NeighbourBudget::Token late = budget.acquire(1, running);
    QThread::msleep(5);
    const NeighbourBudget::Token other = budget.acquire(1000, running);
    budget.release(late);
    budget.extend(late, 1000);
    QCOMPARE(budget.inUse(), 2);
    budget.release(late);
    budget.release(other);
    QCOMPARE(budget.inUse(), 0);
    // Asked to stop, a sweep still gets what the latest look gave, and never more than its share.
    while (entries < 100 && budget.acquire(60000, stop) != 0) {
        ++entries;
    }
    QVERIFY2(entries >= 1 && entries <= 12, qPrintable(QString::number(entries)));

    const int gapMs = NeighbourShare::kLookGapMs;
    // An old look does not blame a new watch for refusals long past.
    QThread::msleep(10 * gapMs);
    refusals = 41;
    const NeighbourBudget::Mark mark = budget.mark();
    QCOMPARE(mark.refusals, quint64(41));
    // A refusal after the mark, before the silence: never judged by a look from before it.
    refusals = 42;
    const std::optional<bool> early = budget.refusedSince(mark.refusals, mark.looks);
    QVERIFY(!early || *early);
    QThread::msleep(gapMs);
    QCOMPARE(budget.refusedSince(41, mark.looks), std::optional<bool>(true));
    QCOMPARE(budget.refusedSince(42, mark.looks), std::optional<bool>(false));
    // A table that cannot be read proves no silence, and still lets a sweep go on.
    const quint64 looks = budget.mark().looks;
    readable = false;
    QThread::msleep(gapMs);
    QCOMPARE(budget.refusedSince(42, looks), std::optional<bool>(true));
    QVERIFY(budget.acquire(1000, stop) != 0);
}

void TestRules::watchEvents_data()
{
    // Steps: "seconds verb host.MAC fw/name", where seconds may list several times, MAC is A, B
    // or X (a MAC of another maker), and a fw of "-" is a failed question. ended: a request to the
    // host ended, answered by the MAC given, if any.
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("events"); // "event host.MAC's last pair fw/name (note) @second"
    QTest::addColumn<QVector<int>>("counts"); // devices there, new among them, departed
    const auto add
        = [](const char *row, const QStringList &steps, const QStringList &events,
             const QVector<int> &counts) { QTest::newRow(row) << steps << events << counts; };
    // Found by the first scan, answered its name and firmware, then the live watch.
    const QStringList camA { "0 admit 10.A", "0 answers 10 1.0/Cam", "1 live" };
    const QStringList announcedA { "0 announce 10.A 1.0/Cam", "1 live" };
    const QString presentA = "present 10.0A 1.0/Cam @1";
    add("three quick silences depart only once 10 s have passed",
        camA + QStringList { "1,2,3,10 ended 10" }, { presentA, "departed 10.0A 1.0/Cam @10" },
        { 0, 0, 1 });
    add("an answer starts the count over",
        camA + QStringList { "5,10 ended 10", "11 admit 10.A", "15,20,25 ended 10" },
        { presentA, "departed 10.0A 1.0/Cam @25" }, { 0, 0, 1 });
    add("the watch's own outage departs nothing; the count starts over once it is back",
        camA
            + QStringList { "5,10 ended 10", "11 lost", "15,20,25 ended 10", "26 back",
                            "31,36,41 ended 10" },
        { presentA, "departed 10.0A 1.0/Cam @41" }, { 0, 0, 1 });
    add("a known MAC at a new address moves its row and says where it was",
        camA + QStringList { "2 admit 11.A" },
        { presentA, "changed 11.0A 1.0/Cam (was 198.18.0.10) @2" }, { 1, 0, 0 });
    add("a second MAC on a known address is a conflict", camA + QStringList { "2 admit 10.B" },
        { presentA, "conflict 10.0B / (conflict) @2" }, { 2, 1, 0 });
    add("what the first scan found is present, what comes later appeared",
        camA + QStringList { "2 admit 11.B", "3 answers 11 2.0/New" },
        { presentA, "appeared 11.0B 2.0/New @3" }, { 2, 1, 0 });
    add("an announcement with another firmware is a change",
        announcedA + QStringList { "2 announce 10.A 1.1/Cam" },
        { presentA, "changed 10.0A 1.1/Cam @2" }, { 1, 0, 0 });
    add("a goodbye departs at once; only an announcement brings the device back",
        announcedA + QStringList { "2 goodbye 10.A", "3 heard 10.A", "4 announce 10.A 1.0/Cam" },
        { presentA, "departed 10.0A 1.0/Cam @2", "returned 10.0A 1.0/Cam @4" }, { 1, 0, 0 });
    // A daemon that noticed the outage late withdraws the record after it, then announces it
    // again: not a goodbye. Once the device was announced since, a goodbye departs at once.
    add("after an outage, a goodbye waits for the device's announcement",
        announcedA
            + QStringList { "2 lost", "3 back", "4 goodbye 10.A", "5 announce 10.A 1.0/Cam",
                            "14 confirm 10.A", "20 goodbye 10.A" },
        { presentA, "departed 10.0A 1.0/Cam @20" }, { 0, 0, 1 });
    add("after an outage, a goodbye no announcement follows departs once confirmed",
        announcedA + QStringList { "2 lost", "3 back", "4 goodbye 10.A", "14 confirm 10.A" },
        { presentA, "departed 10.0A 1.0/Cam @14" }, { 0, 0, 1 });
    add("an announced device is there while its address answers ARP, whatever the MAC",
        announcedA + QStringList { "5,10,15 ended 10", "16 heard 10.X" },
        { presentA, "departed 10.0A 1.0/Cam @15", "returned 10.0A 1.0/Cam @16" }, { 1, 0, 0 });
    // Asked again on its return, a row changes by what answered, not by a failure.
    add("three unanswered over 10 s depart; the next answer returns",
        camA + QStringList { "5,10,15 ended 10", "16 admit 10.A", "17 answers 10 -/Cam 2" },
        { presentA, "departed 10.0A 1.0/Cam @15", "returned 10.0A 1.0/Cam @16",
          "changed 10.0A 1.0/Cam 2 @17" },
        { 1, 0, 0 });
    add("on a shared address, each device answers for itself",
        { "0 admit 10.B", "0 admit 10.A", "1 live", "5,10,15 ended 10.A" },
        { "present 10.0A / (conflict) @1", "present 10.0B / (conflict) @1",
          "departed 10.0B / (conflict) @15" },
        { 1, 0, 1 });
    add("a departed device cleared away is new when it comes back",
        camA
            + QStringList { "5,10,15 ended 10", "16 clear", "17 admit 10.A",
                            "17 answers 10 1.0/Cam" },
        { presentA, "departed 10.0A 1.0/Cam @15", "appeared 10.0A 1.0/Cam @17" }, { 1, 1, 0 });
}

void TestRules::watchEvents()
{
    QFETCH(QStringList, steps);
    QFETCH(QStringList, events);
    QFETCH(QVector<int>, counts);
    DeviceStore store;
    QAbstractItemModelTester tester(&store, QAbstractItemModelTester::FailureReportingMode::QtTest);
    qint64 now = 0;
    store.setClock([&now] { return now; });
    QStringList told;
    connect(&store, &DeviceStore::watchEvent, [&](Watch::Event event, const DeviceRow &row) {
        told << QString("%1 %2.%3 %4/%5%6 @%7")
                    .arg(Watch::eventName(event), row.ip.section('.', 3), row.mac.right(2), row.fw,
                         row.name, row.note().isEmpty() ? QString() : " (" + row.note() + ")")
                    .arg(now / 1000);
    });
    DeviceStore::Report report;
    const auto answer = [&](DeviceAnswer::Endpoint endpoint, const QString &text) {
        store.answer(report.address,
                     { endpoint,
                       text == "-" ? DeviceAnswer::Kind::Failed : DeviceAnswer::Kind::Value,
                       text });
    };
    const QHash<QString, std::function<void()>> verbs {
        { "admit", [&] { store.admit(report); } },
        { "announce", [&] { store.admit(report); } },
        { "answers",
          [&] {
              answer(DeviceAnswer::Endpoint::FwVersion, report.fw);
              answer(DeviceAnswer::Endpoint::DeviceName, report.name);
          } },
        { "heard", [&] { store.answered(report.address, report.mac); } },
        { "ended",
          [&] { store.requestEnded(report.address, report.mac.split(',', Qt::SkipEmptyParts)); } },
        { "goodbye", [&] { store.goodbye(report.address, report.mac); } },
        { "confirm", [&] { store.confirmGoodbye(report.address, report.mac); } },
        { "lost", [&] { store.linkLost(); } },
        { "back", [&] { store.linkBack(); } },
        { "live", [&] { store.endFirstScan(); } },
        { "clear", [&] { store.clearDeparted(); } },
    };
    static const QRegularExpression form(
        "^([\\d,]+) (\\w+)(?: (\\d+))?(?:\\.([ABX]))?(?: (.*)/(.*))?$");
    const QHash<QString, QString> macs { { "A", kMacA },
                                         { "B", kMacB },
                                         { "X", "00-11-22-33-44-55" } };
    store.startWatch();
    for (const QString &step : steps) {
        const QRegularExpressionMatch m = form.match(step);
        QVERIFY2(m.hasMatch() && verbs.contains(m.captured(2)), qPrintable(step));
        report = { *Ipv4Text::parse("198.18.0.0") + m.captured(3).toUInt(),
                   macs.value(m.captured(4)), m.captured(5), m.captured(6) };
        report.announced = m.captured(2) == "announce";
        for (const QString &at : m.captured(1).split(',')) {
            now = at.toLongLong() * 1000;
            verbs[m.captured(2)]();
        }
    }
    QCOMPARE(told, events);
    QCOMPARE((QVector<int> { store.presentCount(), store.newCount(), store.goneCount() }), counts);
    // Clearing takes exactly the departed rows away.
    const int rows = store.rowCount();
    QCOMPARE(store.clearDeparted(), rows - store.presentCount());
    QCOMPARE(store.rowCount(), store.presentCount());
}

void TestRules::watchSchedule()
{
    // A /27 swept at 0, two devices known, and every few seconds one just swept becomes known
    // (it spoke up) or is forgotten, for four minutes; 10 stops answering at 100 s. A batch's
    // frames leave 0 to 400 ms after
    // it is asked for, and the next batch waits for the helper's "idle" after them, as the watch
    // does. The helper's bound, counted from the frames: no request to an address while two
    // others left within the 10 s before it.
    QVector<quint32> subnet;
    for (quint32 host = 1; host <= 30; ++host) {
        subnet << host;
    }
    WatchSchedule schedule(subnet, 60000, 0);
    QRandomGenerator random(28);
    QVector<quint32> known { 10, 11 };
    QHash<quint32, QVector<qint64>> frames;
    QHash<quint32, int> swept;
    QSet<quint32> everKnown { 10, 11 };
    qint64 idleAt = -1;
    quint32 lastSwept = 0;
    for (qint64 now = 250; now <= 240000; now += 250) {
        if (idleAt >= 0 && idleAt <= now) {
            idleAt = -1;
        }
        // Forgotten for a while, just as the sweep passes it: asked lately, it is not swept.
        if (now == 68000) {
            known.removeOne(10);
        } else if (now == 75000) {
            known.prepend(10);
        } else if (now % 3000 == 0 && lastSwept != 0 && !known.contains(lastSwept)) {
            known << lastSwept;
            everKnown << lastSwept;
            std::sort(known.begin(), known.end());
        } else if (now % 7000 == 0 && known.size() > 2) {
            known.erase(std::find_if(known.begin(), known.end(),
                                     [](quint32 address) { return address > 11 || address < 10; }));
        }
        if (idleAt >= 0) {
            continue;
        }
        const QVector<quint32> rechecks = schedule.rechecks(known, now);
        for (const quint32 address : rechecks) {
            schedule.recheckEnded(address, address != 10 || now < 100000);
        }
        const QVector<quint32> share = schedule.sweepShare(known, now);
        qint64 lastFrame = now;
        for (const quint32 address : rechecks + share) {
            const qint64 frame = now + random.bounded(400);
            const QVector<qint64> &before = frames.value(address);
            const int recent = int(std::count_if(before.cbegin(), before.cend(),
                                                 [now](qint64 at) { return at > now - 10000; }));
            // The bound, and at most one request to an address per 5 s, but for one that missed.
            const qint64 spacing = address == 10 && now > 100000 ? 3200 : 4600;
            QVERIFY2(recent <= 2 && (before.isEmpty() || frame - before.last() > spacing),
                     qPrintable(QString("address %1 at %2 ms").arg(address).arg(now)));
            frames[address] << frame;
            lastFrame = std::max(lastFrame, frame);
        }
        for (const quint32 address : share) {
            ++swept[address];
            lastSwept = address;
        }
        idleAt = rechecks.isEmpty() && share.isEmpty() ? -1 : lastFrame;
    }
    // A known device asked at least every 6.5 s, one that missed twice sooner, then every 5 s
    // again; each address never known once a period (four sweeps, the first half a period after
    // the first scan), and no known one swept.
    const QVector<qint64> &at = frames.value(11);
    for (int i = 1; i < at.size(); ++i) {
        QVERIFY2(at[i] - at[i - 1] <= 6500, qPrintable(QString::number(at[i - 1])));
    }
    const QVector<qint64> &gone = frames.value(10);
    const auto missed = std::find_if(gone.cbegin(), gone.cend(), [](qint64 t) { return t > 1e5; });
    QVERIFY(gone.cend() - missed > 3 && missed[2] - missed[0] <= 8000);
    QVERIFY(missed[3] - missed[2] > 4600);
    QCOMPARE(swept.value(10) + swept.value(11), 0);
    for (const quint32 address : subnet) {
        QVERIFY2(everKnown.contains(address) || swept.value(address) == 4,
                 qPrintable(QString::number(address)));
    }
}

QTEST_GUILESS_MAIN(TestRules)
#include "tst_rules.moc"
