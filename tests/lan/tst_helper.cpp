// The ARP helper attacked as a local user would, in the LAN of helper.topology: 198.18.0.50
// answers ARP and its namespace watches the wire; 198.18.0.51 sends the frames the test makes
// up. The helper speaks only for an address and a MAC its interface has now, keeps no capability
// and no descriptor another process of its user could take, and reports every answer to each of
// our requests however much else the link says.
#include "base/ipv4text.h"
#include "platform/arpengine.h"
#include "tests/common/testkit.h"

#include <QFile>
#include <QRegularExpression>
#include <QScopeGuard>

#include <functional>
#include <optional>

namespace {

const quint32 kAsked = 0xc6120032; // 198.18.0.50, the host that answers
const quint32 kUnused = 0xc612004d; // 198.18.0.77: nobody else asks it
const quint32 kMarker = 0xc612004e; // 198.18.0.78: sent last, so what came before was seen

// Runs in a namespace of the LAN. listen ASKED MARKER: how many requests for ASKED passed, once
// MARKER is asked. boot: a probe for .99 and an announcement of .98. flood: made-up senders,
// 2,000 a second, until killed. steal PID FD...: pidfd_getfd on each descriptor of PID. knock
// ADDRESS: a datagram, for which the kernel resolves ADDRESS.
const char *const kScript = R"(
import ctypes, errno, os, socket, struct, sys, time
if sys.argv[1] == "knock":
    sys.exit(socket.socket(socket.AF_INET, socket.SOCK_DGRAM).sendto(b"", (sys.argv[2], 9)) and 0)
if sys.argv[1] == "steal":
    libc = ctypes.CDLL(None, use_errno=True)
    pidfd = os.pidfd_open(int(sys.argv[2]))
    for fd in sys.argv[3:]:
        got = libc.syscall(438, pidfd, int(fd), 0)
        print("stolen" if got >= 0 else errno.errorcode[ctypes.get_errno()], flush=True)
    sys.exit(0)
s = socket.socket(socket.AF_PACKET, socket.SOCK_RAW, socket.htons(0x0806))
s.bind(("lan0", 0))
def send(mac, sender, target):
    s.send(b"\xff" * 6 + mac + b"\x08\x06" + struct.pack("!HHBBH", 1, 0x0800, 6, 4, 1) + mac
           + socket.inet_aton(sender) + b"\0" * 6 + socket.inet_aton(target))
if sys.argv[1] == "listen":
    print("listening", flush=True)
    asked = 0
    while True:
        frame = s.recv(64)
        target = socket.inet_ntoa(frame[38:42])
        asked += frame[20:22] == b"\0\1" and target == sys.argv[2]
        if frame[20:22] == b"\0\1" and target == sys.argv[3]:
            sys.exit(print(asked, flush=True))
elif sys.argv[1] == "boot":
    send(bytes.fromhex("020000000099"), "0.0.0.0", "198.18.0.99")
    send(bytes.fromhex("020000000098"), "198.18.0.98", "198.18.0.98")
else:
    for n in range(1, 10 ** 6):
        send(b"\x02" + n.to_bytes(5, "big"), "10.%d.%d.%d" % (n >> 16, n >> 8 & 255, n & 255),
             "10.0.0.1")
        if n % 20 == 0:
            time.sleep(0.01)
        if n == 400:
            print("flooding", flush=True)
)";

QString lan0(const char *attribute)
{
    QFile file(QStringLiteral("/sys/class/net/lan0/") + QLatin1String(attribute));
    return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll().trimmed())
                                          : QString();
}

bool ip(const QString &arguments)
{
    return arguments.isEmpty()
        || QProcess::execute(QStringLiteral("ip"), arguments.split(' ')) == 0;
}

// kScript in the namespace of the LAN's host number `host` (1: .50, 2: .51), or in the scanner's
// under the wrapper.
void runScript(QProcess *process, int host, const QStringList &arguments,
               const QStringList &wrapper = {})
{
    const QStringList python { QStringLiteral("/usr/bin/python3"), QStringLiteral("-c"), kScript };
    const QStringList inHost { QStringLiteral("netns"), QStringLiteral("exec"),
                               qEnvironmentVariable("LUMISWEEP_LAN_NAME") + "-d"
                                   + QString::number(host) };
    const QStringList command
        = (host ? QStringList(QStringLiteral("ip")) + inHost : wrapper) + python + arguments;
    process->start(command.first(), command.mid(1));
}

// A session of the helper through the program's own client, every signal as a line.
struct Session
{
    explicit Session(const QString &source)
    {
        engine.setHelperPath(buildFile("lumisweep-arp"));
        QObject::connect(&engine, &ArpEngine::ready, &engine, [this] { lines << "ready"; });
        QObject::connect(&engine, &ArpEngine::idle, &engine, [this] { lines << "idle"; });
        QObject::connect(&engine, &ArpEngine::replied, &engine, note("reply"));
        QObject::connect(&engine, &ArpEngine::heard, &engine, note("heard"));
        QObject::connect(&engine, &ArpEngine::failed, &engine,
                         [this](ArpEngine::Failure why, const QString &text) {
                             failure = why;
                             reason = text;
                         });
        engine.start(QStringLiteral("lan0"), *Ipv4Text::parse(source));
    }
    std::function<void(quint32, const QByteArray &)> note(const char *kind)
    {
        return [this, kind](quint32 address, const QByteArray &mac) {
            lines << QStringLiteral("%1 %2 ").arg(QLatin1String(kind), Ipv4Text::format(address))
                    + QString::fromLatin1(mac.toHex('-').toUpper());
        };
    }
    ArpEngine engine;
    QStringList lines;
    std::optional<ArpEngine::Failure> failure;
    QString reason;
};

} // namespace

class TestHelper : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { REQUIRE_LAN(); }
    void ownership_data();
    void ownership();
    void refusals();
    void privileges();
    void answers();
};

void TestHelper::ownership_data()
{
    // The helper's source address; ip's arguments (split at each space) before it starts, while
    // it runs, after it ends.
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("change");
    QTest::addColumn<QString>("restore");
    const QString secondary = "addr del 198.18.0.2/24 dev lan0";
    QTest::newRow("the address moves away")
        << "198.18.0.2"
        << "addr add 198.18.0.2/24 dev lan0" << secondary << secondary;
    QTest::newRow("the MAC changes") << Lan::scannerIp() << ""
                                     << "link set lan0 address 02:00:00:00:aa:01"
                                     << "link set lan0 address " + lan0("address");
    QTest::newRow("the interface goes down") << Lan::scannerIp() << ""
                                             << "link set lan0 down"
                                             << "link set lan0 up";
}

void TestHelper::ownership()
{
    QFETCH(QString, source);
    QFETCH(QString, setup);
    QFETCH(QString, change);
    QFETCH(QString, restore);
    QProcess wire;
    runScript(&wire, 1, { "listen", Ipv4Text::format(kUnused), Ipv4Text::format(kMarker) });
    QTRY_VERIFY(wire.canReadLine());
    QCOMPARE(wire.readLine(), QByteArray("listening\n"));
    {
        QVERIFY(ip(setup));
        // Also when a check fails: the next rows and tests need lan0 as it was.
        const auto restored = qScopeGuard([&restore] { ip(restore); });
        Session session(source);
        QTRY_COMPARE(session.lines, QStringList { "ready" });
        session.engine.send(kUnused, kUnused);
        QTRY_COMPARE(session.lines.count("idle"), 1);
        QVERIFY(ip(change));
        // The helper leaves as soon as the kernel tells it, and asks nothing more meanwhile.
        session.engine.send(kUnused, kUnused);
        QTRY_VERIFY(session.failure);
        QCOMPARE(*session.failure, ArpEngine::Failure::LinkLost);
    }
    QTRY_COMPARE(lan0("operstate"), QStringLiteral("up"));
    Session marker(Lan::scannerIp());
    QTRY_VERIFY(marker.lines.contains("ready"));
    marker.engine.send(kMarker, kMarker);
    QTRY_COMPARE(wire.state(), QProcess::NotRunning);
    QCOMPARE(wire.readAll(), QByteArray("1\n"));
}

void TestHelper::refusals()
{
    // A label is no ownership: root may name an address of another device "lan0:...".
    QVERIFY(ip("addr add 198.18.0.3/32 dev lo label lan0:evil"));
    Session labelled(QStringLiteral("198.18.0.3"));
    QTRY_VERIFY(labelled.failure);
    QVERIFY(ip("addr del 198.18.0.3/32 dev lo"));
    QCOMPARE(*labelled.failure, ArpEngine::Failure::Unavailable);
    QVERIFY2(labelled.reason.contains("is not an address of lan0"), qPrintable(labelled.reason));
}

void TestHelper::privileges()
{
    // As root's setpriv starts it: the parent's permitted set holds CAP_NET_RAW already, so the
    // exec gains nothing, and the kernel alone would leave the process dumpable.
    OpenFolder folder;
    const QString copy = folder.copy("lumisweep-arp");
    QVERIFY(!copy.isEmpty());
    QCOMPARE(QProcess::execute(QStringLiteral("setcap"), { "cap_net_raw+ep", copy }), 0);
    const QStringList asNobody { "setpriv", "--reuid=65534", "--regid=65534", "--clear-groups" };
    QProcess helper;
    helper.start(asNobody.first(), asNobody.mid(1) << copy << "lan0" << Lan::scannerIp());
    QTRY_VERIFY(helper.canReadLine());
    QVERIFY(helper.readLine().startsWith("ready "));
    QFile status(QStringLiteral("/proc/%1/status").arg(helper.processId()));
    QVERIFY(status.open(QIODevice::ReadOnly));
    const QString held = QString::fromLatin1(status.readAll());
    QCOMPARE(held.count(QRegularExpression("\nCap(Inh|Prm|Eff|Amb):\t0{16}\n")), 4);
    QVERIFY(held.contains("\nNoNewPrivs:\t1\n"));
    // Another process of its user, without any capability, tries to take its sockets.
    QProcess thief;
    runScript(&thief, 0, { "steal", QString::number(helper.processId()), "3", "4", "5" }, asNobody);
    QVERIFY(thief.waitForFinished(30000));
    QCOMPARE(thief.readAll(), QByteArray("EPERM\nEPERM\nEPERM\n"));
    helper.closeWriteChannel();
    QVERIFY(helper.waitForFinished(30000));
    QCOMPARE(helper.exitCode(), 0);
}

void TestHelper::answers()
{
    Session session(Lan::scannerIp());
    QTRY_VERIFY(session.lines.contains("ready"));
    // A booting device probes for its address, then announces it.
    QProcess boot;
    runScript(&boot, 2, { "boot" });
    QTRY_VERIFY(session.lines.contains("heard 198.18.0.99 02-00-00-00-00-99"));
    QTRY_VERIFY(session.lines.contains("heard 198.18.0.98 02-00-00-00-00-98"));
    // The kernel's own request is answered to our MAC and address, but the helper did not ask.
    QVERIFY(ip("neigh flush dev lan0"));
    QProcess knock;
    runScript(&knock, 0, { "knock", "198.18.0.51" });
    QTRY_VERIFY(session.lines.contains("heard 198.18.0.51 00-11-22-33-44-56"));
    // Made-up senders, far beyond what may be reported as heard, while we ask: each request
    // gets its answer.
    QProcess flood;
    runScript(&flood, 2, { "flood" });
    QTRY_VERIFY(flood.canReadLine());
    const QString answer = QStringLiteral("reply 198.18.0.50 00-11-22-33-44-55");
    for (int asked = 1; asked <= 2; ++asked) {
        session.engine.send(kAsked, kAsked);
        QTRY_COMPARE(session.lines.count(answer), asked);
    }
    flood.kill();
    QVERIFY(flood.waitForFinished());
    QCOMPARE(session.lines.filter(QStringLiteral("reply ")), QStringList({ answer, answer }));
    // A third request within 10 s is the last: a fourth ends the session.
    session.engine.send(kAsked, kAsked);
    session.engine.send(kAsked, kAsked);
    QTRY_VERIFY(session.failure);
    QCOMPARE(*session.failure, ArpEngine::Failure::Broken);
    QVERIFY2(session.reason.contains("more than 3 times in 10 s"), qPrintable(session.reason));
}

QTEST_MAIN(TestHelper)
#include "tst_helper.moc"
