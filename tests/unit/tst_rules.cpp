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
#include "platform/arpengine.h"
#include "tests/common/testkit.h"

#include <QAbstractItemModelTester>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>
#include <QThread>

namespace {
const QString kName = DeviceProtocol::deviceNamePath();
const QString kFw = DeviceProtocol::fwVersionPath();
const QString kMac = DeviceProtocol::macAddressPath();
const QString kHostile = QString::fromUtf8("Say \"hi\",\r\x1b]0;PWNED\x07 caf\xc3\xa9");
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
    void neighbourShare_data();
    void neighbourShare();
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
};

void TestRules::addressRange_data()
{
    // address | netmask | count | first | last | the swept subnet
    rows({ { "/24",
             "192.168.1.37 | 255.255.255.0 | 254 | 192.168.1.1 | 192.168.1.254 | 192.168.1.0/24" },
           { "/22 has .255 and .0 inside",
             "10.1.2.3 | 255.255.252.0 | 1022 | 10.1.0.1 | 10.1.3.254 | 10.1.0.0/22" },
           { "/16 whole",
             "10.20.30.40 | 255.255.0.0 | 65534 | 10.20.0.1 | 10.20.255.254 | 10.20.0.0/16" },
           { "/8: its own /16",
             "10.20.30.40 | 255.0.0.0 | 65534 | 10.20.0.1 | 10.20.255.254 | 10.20.0.0/16" },
           { "/12: its own /16, at the subnet's start",
             "172.16.0.9 | 255.240.0.0 | 65534 | 172.16.0.1 | 172.16.255.254 | 172.16.0.0/16" },
           { "/30",
             "192.168.1.1 | 255.255.255.252 | 2 | 192.168.1.1 | 192.168.1.2 | 192.168.1.0/30" },
           { "/31 empty", "192.168.1.37 | 255.255.255.254 | 0" },
           { "/32 empty", "192.168.1.37 | 255.255.255.255 | 0" },
           { "holes in the mask", "10.0.0.1 | 255.0.255.0 | 0" },
           { "mask without dots", "192.168.1.37 |  | 0" },
           { "hostile mask", "1.1.1.1 | 0.0.-2000000000.-5 | 0" } });
}

void TestRules::addressRange()
{
    QFETCH(QStringList, f);
    const QVector<quint32> range = AddressRange::fromInterface(f[0], f[1]);
    QCOMPARE(range.size(), f[2].toInt());
    QCOMPARE(AddressRange::sweptSubnet(f[0], f[1]), f.value(5));
    if (!range.isEmpty()) {
        QCOMPARE(Ipv4Text::format(range.first()), f[3]);
        QCOMPARE(Ipv4Text::format(range.last()), f[4]);
        // Consecutive and ascending, and the interface's own address is not skipped.
        QCOMPARE(range.last() - range.first(), quint32(range.size() - 1));
        QVERIFY(range.contains(*Ipv4Text::parse(f[0])));
    }
}

void TestRules::addressTexts_data()
{
    // text | the address read back, or - | a single host's address
    rows({ { "dotted", "198.18.0.10 | 198.18.0.10 | yes" },
           { "leading zeros are decimal", "010.001.000.001 | 10.1.0.1 | yes" },
           { "limited broadcast", "255.255.255.255 | 255.255.255.255 | no" },
           { "this network", "0.1.2.3 | 0.1.2.3 | no" },
           { "multicast", "224.0.0.251 | 224.0.0.251 | no" },
           { "256", "1.2.3.256 | - | no" },
           { "short form", "10.1 | - | no" },
           { "blank", "1.2.3.4  | - | no" },
           { "sign", "1.2.+3.4 | - | no" },
           { "host name and path", "evil.example/login | - | no" },
           { "empty", " | - | no" } });
}

void TestRules::addressTexts()
{
    QFETCH(QStringList, f);
    const std::optional<quint32> parsed = Ipv4Text::parse(f[0]);
    QCOMPARE(parsed ? Ipv4Text::format(*parsed) : QStringLiteral("-"), f[1]);
    QCOMPARE(parsed && Ipv4Text::isUnicast(*parsed), f[2] == "yes");
    if (parsed) {
        // A URL to a device carries exactly the parsed address, and asks for no compression,
        // which could inflate a small answer beyond every limit.
        const QNetworkRequest request = DeviceProtocol::request(*parsed, kName);
        QCOMPARE(request.url().toString(), "http://" + f[1] + kName);
        QCOMPARE(DeviceProtocol::pathOf(request.url()), kName);
        QCOMPARE(request.rawHeader("Accept-Encoding"), QByteArray("identity"));
    }
}

void TestRules::vendorPrefix_data()
{
    // MAC text | whether it is a vendor's
    rows({ { "0206", "02-06-00-00-00-10 | yes" },
           { "d0c8", "D0-C8-1A-2B-3C-4D | yes" },
           { "08ea40 colons lower", "08:ea:40:00:11:22 | yes" },
           { "0c8c24 dotted", "0c8c.2400.1122 | yes" },
           { "08ea4 is not 08ea40", "08-EA-41-00-11-22 | no" },
           { "0c8c2 is not 0c8c24", "0C-8C-25-00-11-22 | no" },
           { "other vendor", "00-11-22-33-44-55 | no" },
           { "leading blank", " D0-C8-1A-2B-3C-4D | no" },
           { "prefix later in text", "00-D0-C8-1A-2B-3C | no" },
           { "short", "D0 | no" } });
}

void TestRules::vendorPrefix()
{
    QFETCH(QStringList, f);
    QCOMPARE(VendorPrefix::matches(f[0]), f[1] == "yes");
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
    // host lookup | interface TXT value (- absent) | MAC | FW | full name | ip | mac | fw | name
    // MAC and FW are bytes, %XX for one that is no character of its own; the full name is as
    // the daemon escapes it.
    rows({ { "typical",
             "192.168.1.20 | eth0:10.0.0.1 | d0:c8:1a:2b:3c:4d | 1.0.3 | "
             "Cam1._encoder._tcp.local. | 192.168.1.20 | D0-C8-1A-2B-3C-4D | 1.0.3 | Cam1" },
           { "no host address: the interface value; controls removed",
             " | eth0:10.0.0.2 | 00:11:22:33:44:55:66 | 2.0\n | Ca\\010m2._encoder._tcp.local. | "
             "10.0.0.2 | 00-11-22-33-44-55 | 2.0 | Cam2" },
           { "other domain: the whole name",
             " | - | 00:11 |  | K\\032A._encoder._tcp.example. |  | 00-11 |  | "
             "K A._encoder._tcp.example." },
           { "space, dot and backslash escaped",
             " | - |  |  | Roof\\032Cam\\.1\\\\._encoder._tcp.local. |  |  |  | Roof Cam.1\\" },
           { "a star in decimal escapes; UTF-8 in the TXT values",
             " | - | 08:ea:40:%C3%9C | %C3%9Cber 3 | \\226\\152\\133\\032A._encoder._tcp.local. "
             "|  | 08-EA-40-\u00dc | \u00dcber 3 | \u2605 A" },
           // What is no UTF-8 must not turn into characters that end a line or drive a
           // terminal, nor into a character of its own.
           { "invalid UTF-8: U+FFFD in the name, Latin-1 in the TXT values",
             " | - | d0:c8:%9B%DC | %DCber%9B%FF | Bad\\255\\192\\138\\027[2J._encoder._tcp.local. "
             "|  | D0-C8-\u00dc | \u00dcber\u00ff | Bad\ufffd\ufffd\ufffd[2J" },
           { "a suffix look-alike inside the name",
             " | - |  |  | a\\._encoder\\._tcp\\.local\\.._encoder._tcp.local. |  |  |  | "
             "a._encoder._tcp.local." },
           // The announcer writes the interface value and the address record: only a plain
           // address of a single remote host may become the row's.
           { "host name, port and path", " | eth0:evil.example:80/x |  |  |  |  |  |  | " },
           { "0.0.0.0, then octal-looking", "0.0.0.0 | eth0:010.0.0.1 |  |  |  |  |  |  | " },
           { "loopback, then broadcast", "127.0.0.1 | eth0:255.255.255.255 |  |  |  |  |  |  | " },
           { "five groups, then over 255", "1.2.3.4.5 | eth0:10.0.0.256 |  |  |  |  |  |  | " } });
}

void TestRules::announcements()
{
    QFETCH(QStringList, f);
    const bool present = f[1] != "-";
    QCOMPARE(ResolveReply::addressFrom(f[0], present ? f[1].toLatin1() : QByteArray(), present),
             f[5]);
    QCOMPARE(ResolveReply::macFrom(QByteArray::fromPercentEncoding(f[2].toUtf8())), f[6]);
    QCOMPARE(ResolveReply::firmwareFrom(QByteArray::fromPercentEncoding(f[3].toUtf8())), f[7]);
    QCOMPARE(ResolveReply::nameFrom(f[4].toUtf8()), f[8]);
}

void TestRules::resolveQueue_data()
{
    // Two resolves at a time, three waiting. Steps: +x heard of (W waiting, K known already,
    // F line full), n take the next (its name, or _ for none), fx the resolve of x ended.
    rows({ { "once, bounded", "+a +a +b +c +d n +d +a | W K W W F a W K" },
           { "slots", "+a +b +c n n n fa n n | W W W a b _ c _" },
           { "heard of again after its end", "+a n fa +a n | W a W a" } });
}

void TestRules::resolveQueue()
{
    QFETCH(QStringList, f);
    ResolveQueue queue(2, 3);
    QStringList got;
    for (const QString &step : f[0].split(' ')) {
        ResolveQueue::Instance instance { 0, step.mid(1).toLatin1(), "_encoder._tcp", "local." };
        QVERIFY2(QString("+fn").contains(step[0]), qPrintable(step));
        if (step[0] == '+') {
            got << QString("WKF").at(int(queue.add(instance)));
        } else if (step[0] == 'f') {
            queue.finished(instance);
        } else {
            got << (queue.takeNext(&instance) ? QString::fromLatin1(instance.name) : "_");
        }
    }
    QCOMPARE(got.join(' '), f[1]);
}

void TestRules::sweepEndsOnce_data()
{
    // Three addresses. Steps: f one done, x one failed, s the user's stop, a the interface gone,
    // e the check for an empty sweep. Then: ends reported, interfaces lost, failures.
    rows({ { "all done", "f x f e | 1 0 1" },
           { "stopped: the stop ends it, the last worker does not", "f s f f | 0 0 0" },
           { "stopped after the end", "f f f s | 1 0 0" },
           { "interface gone, then the workers end", "f a f f e | 1 1 0" },
           { "interface gone after a stop", "s a | 0 0 0" } });
}

void TestRules::sweepEndsOnce()
{
    QFETCH(QStringList, f);
    SweepState sweep(3, 1);
    int ends = 0;
    int losses = 0;
    connect(&sweep, &SweepState::ended, [&] { ++ends; });
    connect(&sweep, &SweepState::interfaceLost, [&] { ++losses; });
    using Step = void (SweepState::*)();
    const Step steps[] = { &SweepState::finishAddress, &SweepState::failAddress, &SweepState::stop,
                           &SweepState::abandon, &SweepState::endIfEmpty };
    for (const QString &step : f[0].split(' ')) {
        const int index = QString("fxsae").indexOf(step);
        QVERIFY2(step.size() == 1 && index >= 0, qPrintable(step));
        (sweep.*steps[index])();
    }
    QCOMPARE(QString("%1 %2 %3").arg(ends).arg(losses).arg(sweep.failures()), f[1]);
}

void TestRules::neighbourPresence_data()
{
    // Requests per round | the entry when the watch begins (M missing, R resolving, F failed,
    // Hn holding an address confirmed n ms ago) | looks, each "entry@elapsed[e][k] = verdict
    // [/action] [rN dN]" (e: the echo answered, k: the knock answered; rounds and deadline when
    // given), separated by " | ".
    rows({ { "resolved now", "3 | M | H0@3 = answered" },
           { "cached: no answer without a fresh sign, a knock is sent",
             "3 | H5000 | H5003@3 = wait/knock | H5005@5k = answered" },
           { "cached: the echo answered", "3 | H5000 | H5003@3e = answered" },
           { "cached: confirmed after the start", "3 | H5000 | H10@400 = answered" },
           { "cached: one confirmation read twice is not fresh",
             "3 | H5000 | H5030@40 = wait/knock | H5290@300 = wait | H6300@1300 = giveup" },
           { "a failed round gets a second, then its time",
             "1 | M | M@1 = wait/ask r1 d1251 | F@1300 = wait/ask r2 d1550 | F@1600 = giveup" },
           { "the kernel's own round counts", "3 | R | F@1000 = wait r1 d1250 | F@1300 = giveup" },
           { "three requests a round are enough",
             "3 | F | F@5 = wait/ask r1 d1255 | F@1300 = giveup" } });
}

void TestRules::neighbourPresence()
{
    using namespace NeighbourPresence;
    QFETCH(QStringList, f);
    const auto stateOf = [](QChar letter) {
        const int index = QString("MRFH").indexOf(letter);
        return index < 0 ? std::optional<EntryState>() : EntryState(index);
    };
    const Timing timing { 1000, f[0].toInt() };
    const std::optional<EntryState> startState = stateOf(f[1].at(0));
    QVERIFY2(startState, qPrintable(f[1]));
    const Start start { *startState, f[1].mid(1).toLongLong() };
    Progress progress = begin(start, timing);
    static const QRegularExpression look(
        "^([MRFH])(\\d*)@(\\d+)(e?)(k?) = (answered|wait|giveup)(?:/(knock|ask))?(?: r(\\d+) "
        "d(\\d+))?$");
    for (const QString &step : f.mid(2)) {
        const QRegularExpressionMatch m = look.match(step);
        QVERIFY2(m.hasMatch(), qPrintable(step));
        const Decision decision = decide(start, progress,
                                         { *stateOf(m.captured(1).at(0)),
                                           m.captured(2).toLongLong(), m.captured(3).toLongLong(),
                                           !m.captured(4).isEmpty(), !m.captured(5).isEmpty() },
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

void TestRules::neighbourShare_data()
{
    // "room" limit, entries, reclaimable, held | the room given; "look" ms since the latest look
    // (-1 none), room left of it | whether to look again.
    rows({ { "empty: a quarter of the three quarters free", "room 1024 0 0 0 | 192" },
           { "the last free entry is given", "room 1024 767 0 0 | 1" },
           { "three quarters busy: the rest is the machine's", "room 1024 768 0 0 | 0" },
           { "past the limit", "room 1024 1100 0 0 | 0" },
           { "others' entries count, ours once", "room 1024 700 0 100 | 17" },
           { "entries the kernel would drop do not", "room 1024 1024 600 300 | 86" },
           { "held entries not in the table yet count", "room 1024 100 0 500 | 67" },
           { "more reclaimable than entries: read apart", "room 1024 50 80 0 | 192" },
           { "a lowered limit", "room 16 0 0 0 | 3" },
           { "never looked", "look -1 0 | yes" },
           { "room used up: not before the gap", "look 19 0 | no" },
           { "room used up, the gap over", "look 20 0 | yes" },
           { "room left of a young look", "look 99 5 | no" },
           { "room left of an old look", "look 100 5 | yes" } });
}

void TestRules::neighbourShare()
{
    QFETCH(QStringList, f);
    const QStringList in = f[0].split(' ');
    if (in[0] == "room") {
        const NeighbourShare::Table table { in[1].toInt(), in[2].toInt(), in[3].toInt() };
        QCOMPARE(NeighbourShare::room(table, in[4].toInt()), f[1].toInt());
    } else {
        QCOMPARE(NeighbourShare::lookDue(in[1].toLongLong(), in[2].toInt()), f[1] == "yes");
    }
}

void TestRules::commandLine_data()
{
    // Arguments ('' an empty one) | what they ask for: the command, then scan type, format, wait
    // in ms and interface, or "usage: " and the start of the error.
    rows({ { "nothing: the window", " | window" },
           { "the debug log with the window", "--verbose | window verbose" },
           { "Qt's window options", "-platform offscreen --reverse | window" },
           { "a scan, defaults", "--scan arp | scan 1 table 3000" },
           { "every option, both spellings",
             "--scan=mdns --interface lan0 --format json --wait 0.0001 --verbose | "
             "scan 3 json 1 lan0 verbose" },
           { "an address", "--scan http --interface 198.18.0.1 | scan 2 table 3000 198.18.0.1" },
           { "list, csv", "--list-interfaces --format csv | list" },
           { "help wins", "--scan arp -h | help" },
           { "version", "-v | version" },
           { "wait not a number", "--scan mdns --wait nan | usage: --wait needs" },
           { "wait infinite", "--scan mdns --wait inf | usage: --wait needs" },
           { "wait zero", "--scan mdns --wait 0 | usage: --wait needs" },
           { "wait too long", "--scan mdns --wait 3600.5 | usage: --wait needs" },
           { "empty interface", "--scan arp --interface '' | usage: --interface needs a value" },
           { "empty inline value", "--scan= | usage: --scan needs a value" },
           { "value missing at the end", "--scan | usage: --scan needs a value" },
           { "repeated option", "--scan arp --scan http | usage: --scan is given more" },
           { "unknown option", "--bogus | usage: unknown option '--bogus'" },
           { "stray argument", "--scan arp extra | usage: unexpected argument 'extra'" },
           { "a lone dash", "- | usage: unexpected argument" },
           { "octet over 255",
             "--scan arp --interface 198.18.0.300 | usage: '198.18.0.300' is not" },
           { "identify over 255", "--identify 198.18.0.999 | usage: '198.18.0.999' is not" },
           { "other scripts' digits", "--identify \u0661.18.0.1 | usage: '\u0661.18.0.1' is not" },
           { "two commands", "--scan arp --list-interfaces | usage: give one of" },
           { "options without a command", "--format json | usage: give one of" },
           { "unknown scan", "--scan ping | usage: unknown scan type 'ping'" },
           { "unknown format", "--scan arp --format xml | usage: unknown format 'xml'" },
           { "a switch with a value", "--scan arp --verbose=1 | usage: --verbose takes no value" },
           { "window options with a scan",
             "--scan arp -style fusion | usage: Qt's window options apply" } });
}

void TestRules::commandLine()
{
    using Command = CommandLine::Request::Command;
    QFETCH(QStringList, f);
    QStringList arguments = f[0].split(' ', Qt::SkipEmptyParts);
    arguments.replaceInStrings(QRegularExpression("^''$"), QString());
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
            got += r.interface.isEmpty() ? QString() : ' ' + r.interface;
        }
        got += r.verbose ? " verbose" : "";
    }
    QVERIFY2(got.startsWith(f[1]), qPrintable(got));
}

void TestRules::helperReports_data()
{
    // A line of the ARP helper | what the program takes from it, or "-": the session fails.
    rows({ { "ready", "ready D0-C8-00-00-00-11 198.18.0.1 | ready 198.18.0.1 D0C800000011" },
           { "reply", "reply 198.18.0.20 08-EA-40-00-00-21 | reply 198.18.0.20 08EA40000021" },
           { "heard", "heard 10.77.0.5 0C-8C-24-00-00-05 | heard 10.77.0.5 0C8C24000005" },
           { "idle", "idle | idle" },
           { "error", "error packet socket: Operation not permitted | error" },
           { "lower-case hex", "reply 198.18.0.20 08-ea-40-00-00-21 | -" },
           { "leading zero", "reply 198.18.0.020 08-EA-40-00-00-21 | -" },
           { "octet over 255", "reply 198.18.0.256 08-EA-40-00-00-21 | -" },
           { "two spaces", "reply 198.18.0.20  08-EA-40-00-00-21 | -" },
           { "trailing space", "idle  | -" },
           { "colons", "reply 198.18.0.20 08:EA:40:00:00:21 | -" },
           { "five pairs", "reply 198.18.0.20 08-EA-40-00-21 | -" },
           { "fields swapped", "ready 198.18.0.1 D0-C8-00-00-00-11 | -" },
           { "upper-case word", "IDLE | -" },
           { "error without text", "error  | -" },
           { "error with an escape", "error \x1b[2J | -" },
           { "not hex", "reply 198.18.0.20 08-EA-40-00-00-2G | -" },
           { "five groups", "reply 1.2.3.4.5 08-EA-40-00-00-21 | -" },
           { "empty", " | -" } });
}

void TestRules::helperReports()
{
    QFETCH(QStringList, f);
    QByteArray line = f[0].toLatin1().replace("\\x1b", "\x1b");
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
    QCOMPARE(got, f[1]);
}

void TestRules::tableWriters_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<QByteArray>("text");
    // A device whose text attacks: quotes, a comma, a carriage return, a terminal title escape,
    // and a firmware a spreadsheet would take for a formula; it shares its address.
    const QByteArray name = "Say \\\"hi\\\",\\r\\u001b]0;PWNED\\u0007 caf\xc3\xa9";
    QTest::newRow("table") << int(DeviceTableWriter::Format::Table)
                           << "IP Address   Mac Address        FW Version  Device Name"
            + QByteArray(29, ' ') + "Note\n198.18.0.9   D0-C8-00-00-00-09  1.0         Cam"
            + QByteArray(37, ' ') + "no encoder answer\n198.18.0.10  02-06-00-00-00-10  =1+2"
            + QByteArray(8, ' ') + name + "  conflict\n";
    QTest::newRow("json")
        << int(DeviceTableWriter::Format::Json)
        << QByteArray("[{\"answered\":false,\"firmware\":\"1.0\",\"ip\":\"198.18.0.9\","
                      "\"mac\":\"D0-C8-00-00-00-09\",\"name\":\"Cam\"},{\"conflict\":true,"
                      "\"firmware\":\"=1+2\",\"ip\":\"198.18.0.10\",\"mac\":"
                      "\"02-06-00-00-00-10\",\"name\":"
                      "\"Say \\\"hi\\\",\\r\\u001b]0;PWNED\\u0007 caf\xc3\xa9\"}]");
    QTest::newRow("csv")
        << int(DeviceTableWriter::Format::Csv)
        << QByteArray(
               "ip,mac,firmware,name,note\r\n198.18.0.9,D0-C8-00-00-00-09,1.0,"
               "Cam,no encoder answer\r\n198.18.0.10,02-06-00-00-00-10,'=1+2,\"Say \"\"hi\"\","
               "\\r\\u001b]0;PWNED\\u0007 caf\xc3\xa9\",conflict\r\n");
}

void TestRules::tableWriters()
{
    QFETCH(int, format);
    QFETCH(QByteArray, text);
    QVector<DeviceRow> rows { { "198.18.0.9", "D0-C8-00-00-00-09", "1.0", "Cam" },
                              { "198.18.0.10", "02-06-00-00-00-10", "=1+2", kHostile } };
    rows[0].answered = false;
    rows[1].conflict = true;
    QByteArray written = DeviceTableWriter::write(DeviceTableWriter::Format(format),
                                                  DeviceTableWriter::devices(rows));
    if (format == int(DeviceTableWriter::Format::Json)) {
        written = QJsonDocument::fromJson(written).toJson(QJsonDocument::Compact);
    }
    QCOMPARE(written, text);
}

void TestRules::hostileOutput_data()
{
    QTest::addColumn<QString>("text");
    const auto add = [](const char *row, const QString &text) { QTest::newRow(row) << text; };
    add("OSC title, bell, CSI clear", "\x1b]0;PWNED\x07\x1b[2J");
    add("one-character CSI", QString(QChar(0x9b)) + "2J");
    add("raw 0x9B byte of a Latin-1 firmware",
        QString::fromLatin1("\x9b"
                            "1.0"));
    add("DEL and C1", QString(QChar(0x7f)) + QChar(0x85) + QChar(0x9f));
    add("bidi override and isolates", QString::fromUtf8("ab\u202e\u2066cd\u2069\u061c"));
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
        // Nothing a terminal or a reader acts on, but the format's own line ends.
        for (const QChar c : written) {
            const bool lineEnd
                = c == '\n' || (c == '\r' && format == DeviceTableWriter::Format::Csv);
            QVERIFY2(lineEnd || !LogText::needsEscape(c.unicode()),
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
    // The model: one row per device in the order they appeared, the row's marks its own.
    QCOMPARE(store.rowCount(), 4);
    const QModelIndex last = store.index(3);
    QCOMPARE(store.data(last, DeviceStore::IpRole).toString(), QString("198.18.0.10"));
    QCOMPARE(store.data(last, DeviceStore::ConflictRole).toBool(), true);
    QCOMPARE(store.data(store.index(2), DeviceStore::AnsweredRole).toBool(), false);
    QCOMPARE(store.roleNames().value(DeviceStore::NoteRole), QByteArray("note"));
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

QTEST_GUILESS_MAIN(TestRules)
#include "tst_rules.moc"
