// Watches in a simulated LAN, each waiting for events, never for a time: three command-line
// streams at once (ARP through the helper as a user, ARP through the kernel's neighbour table,
// mDNS under a flood of announcers that never resolve) while devices boot, collide, move, say
// goodbye and lose their cable, and the interface flaps and comes back with another address; how
// a stream ends; and the Controller's stop.
#include "tests/common/testkit.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QScopeGuard>

#include <csignal>

namespace {

constexpr int kEventWaitMs = 60000;
const QRegularExpression kTime("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z$");

bool run(const QString &command)
{
    return QProcess::execute("sh", { "-c", command }) == 0;
}

// One lumisweep --watch in JSON, its standard output read line by line as it comes (a pipe):
// each line one event; a line that is no timestamped event is a problem.
class Stream : public QObject
{
public:
    explicit Stream(const QStringList &command)
    {
        m_process.setProgram(command.first());
        m_process.setArguments(command.mid(1) + QStringList { "--format", "json" });
        connect(&m_process, &QProcess::readyReadStandardOutput, this, [this] {
            while (m_process.canReadLine()) {
                take(m_process.readLine());
            }
        });
        m_process.start();
    }
    ~Stream() override
    {
        m_process.kill();
        m_process.waitForFinished();
    }
    // "event ip", "+ was address" for a moved device.
    bool has(const QString &summary) const { return summaries().contains(summary); }
    QStringList summaries() const
    {
        QStringList all;
        for (const QJsonObject &event : events) {
            const QString moved = event.value("movedFrom").toString();
            all << event.value("event").toString() + ' ' + event.value("ip").toString()
                    + (moved.isEmpty() ? QString() : " was " + moved);
        }
        return all;
    }
    QProcess m_process;
    QVector<QJsonObject> events;
    QStringList problems;

private:
    void take(const QByteArray &line)
    {
        const QJsonObject event = QJsonDocument::fromJson(line).object();
        if (!line.endsWith('\n') || !kTime.match(event.value("time").toString()).hasMatch()
            || event.value("event").toString().isEmpty()) {
            problems << QString::fromUtf8(line);
        }
        events << event;
    }
};

constexpr int kGhosts = 160;

// Instances whose hosts have no address record, which the daemon never resolves, all on the air.
bool announceGhosts()
{
    return run(QString("mount -t tmpfs lsw-ghosts /etc/avahi/services && for i in $(seq %1); do "
                       "printf '<service-group><name>Ghost %s</name><service><type>_encoder._tcp"
                       "</type><port>80</port><host-name>ghost%s.local</host-name></service>"
                       "</service-group>' $i $i >/etc/avahi/services/ghost$i.service; done && "
                       "avahi-daemon --reload")
                   .arg(kGhosts))
        && run(QString("for i in $(seq 100); do [ $(avahi-browse -t -p _encoder._tcp | grep -c "
                       "'^+') -ge %1 ] && exit 0; sleep 0.2; done; exit 1")
                   .arg(kGhosts));
}

// pgrep's status for a helper that is a child of pid: 0 when one runs, 1 when none does.
int helpersUnder(qint64 pid)
{
    return QProcess::execute("pgrep", { "-P", QString::number(pid), "lumisweep-arp" });
}

} // namespace

class TestWatch : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { REQUIRE_LAN(); }
    void stopFromController();
    void streamEnds();
    void watches();
};

void TestWatch::stopFromController()
{
    ControllerFixture ctrl;
    ctrl->setArpHelper(true, buildFile("lumisweep-arp"));
    SignalRecorder events;
    events.watch(ctrl.get(), &Controller::watchEvent, "event");
    // Http Download has no watch.
    ctrl->startWatch(Lan::scannerIp(), 2);
    QCOMPARE(ctrl.scan.lines, QStringList { "info|Info: Http Download has no watch mode" });
    QVERIFY(!ctrl->isWatching());
    ctrl->startWatch(Lan::scannerIp(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(events.count("event\\|present"), 3, kEventWaitMs);
    QVERIFY(ctrl->isWatching());
    ctrl->stopWatch();
    // The end comes last, inside the stop, and the helper's session is gone with it.
    QCOMPARE(events.lines.last(), QString("event|end|||||stopped"));
    QVERIFY(!ctrl->isWatching());
    QCOMPARE(helpersUnder(QCoreApplication::applicationPid()), 1);
    const int told = events.lines.size();
    QTRY_VERIFY(ctrl->pendingDeviceQueries() == 0);
    QCOMPARE(events.lines.size(), told);
}

void TestWatch::streamEnds()
{
    const QStringList watch { buildFile("lumisweep"), "--scan", "arp", "--watch" };
    // Its time given: exit 0, the stream complete.
    {
        Stream stream(watch + QStringList { "--duration", "1" });
        QVERIFY(stream.m_process.waitForFinished(kEventWaitMs));
        QCOMPARE(stream.m_process.exitCode(), 0);
        QCOMPARE(stream.summaries().last(), QString("end "));
        QCOMPARE(stream.problems, QStringList());
    }
    // Ctrl-C: 130, after the end.
    {
        Stream stream(watch);
        QTRY_VERIFY_WITH_TIMEOUT(!stream.events.isEmpty(), kEventWaitMs);
        ::kill(stream.m_process.processId(), SIGINT);
        QVERIFY(stream.m_process.waitForFinished(kEventWaitMs));
        QCOMPARE(stream.m_process.exitCode(), 130);
        QCOMPARE(stream.events.last().value("reason").toString(), QString("stopped"));
    }
    // The reader goes away after the first scan, while nothing else happens: 1, and why. What it
    // read is CSV: the header, then a line per device.
    QProcess reader;
    reader.start("bash",
                 { "-c", "\"$0\" \"$@\" | head -n 4; exit ${PIPESTATUS[0]}", buildFile("lumisweep"),
                   "--scan", "arp", "--watch", "--format", "csv" });
    QVERIFY(reader.waitForFinished(kEventWaitMs));
    QCOMPARE(reader.exitCode(), 1);
    QCOMPARE(reader.readAllStandardError(),
             QByteArray("lumisweep: the reader of the output went away\n"));
    const QStringList read = QString::fromUtf8(reader.readAllStandardOutput()).split("\r\n");
    QCOMPARE(read.first(), QString("time,event,ip,mac,firmware,name,note"));
    for (const QString &line : read.mid(1, 3)) {
        QVERIFY2(kTime.match(line.section(',', 0, 0)).hasMatch()
                     && line.section(',', 1, 2).startsWith("present,198.18.0."),
                 qPrintable(line));
    }
    QCOMPARE(read.size(), 5);
    // An output that cannot be written: 1, before anything is sent.
    QProcess full;
    full.setStandardOutputFile("/dev/full");
    full.start(buildFile("lumisweep"), { "--scan", "arp", "--watch", "--format", "csv" });
    QVERIFY(full.waitForFinished(kEventWaitMs));
    QCOMPARE(full.exitCode(), 1);
    QCOMPARE(full.readAllStandardError(),
             QByteArray("lumisweep: cannot write the output: No space left on device\n"));
}

void TestWatch::watches()
{
    OpenFolder withHelper;
    OpenFolder kernelOnly;
    QVERIFY(announceGhosts());
    const QStringList asUser { "setpriv", "--reuid=65534", "--regid=65534", "--clear-groups" };
    Stream helper(QStringList { qEnvironmentVariable("LUMISWEEP_SOURCE_DIR")
                                    + "/tests/lan/with-helper-capability.sh",
                                withHelper.copy("lumisweep-arp"), "--",
                                withHelper.copy("lumisweep"), "--scan", "arp", "--watch" });
    Stream kernel(asUser
                  + QStringList { kernelOnly.copy("lumisweep"), "--scan", "arp", "--watch",
                                  "--sweep-period", "10" });
    // The mDNS watch in this process, where the browse's count of instances without an address
    // can be read.
    ControllerFixture ctrl;
    SignalRecorder mdns;
    mdns.watch(ctrl.get(), &Controller::watchEvent, "event");
    ctrl->startWatch(Lan::scannerIp(), 3);
    const auto summaries = [&mdns] {
        QStringList all;
        for (const QString &line : mdns.lines) {
            all << line.section('|', 1, 1) + ' ' + line.section('|', 2, 2);
        }
        return all;
    };
    const QList<Stream *> arp { &helper, &kernel };
    const auto told = [&](const QString &summary, bool byMdns) {
        return helper.has(summary) && kernel.has(summary)
            && (!byMdns || summaries().contains(summary));
    };
    const QStringList present { "present 198.18.0.2", "present 198.18.0.3", "present 198.18.0.4" };
    for (const QString &device : present) {
        QTRY_VERIFY_WITH_TIMEOUT(told(device, false), kEventWaitMs);
    }
    QCOMPARE(helpersUnder(kernel.m_process.processId()), 1);
    // Announced after the flood, the encoder at .4 is resolved before most of the flood is
    // tried: the newest instance first.
    QProcess address, service;
    address.start("avahi-publish", { "-a", "-R", "enc.local", "198.18.0.4" });
    const QStringList encoder {
        "-s", "-H", "enc.local", "Encoder", "_encoder._tcp", "80", "MAC=08:ea:40:00:00:04"
    };
    service.start("avahi-publish", encoder + QStringList { "FW=3.0" });
    QTRY_VERIFY_WITH_TIMEOUT(summaries().contains("appeared 198.18.0.4"), kEventWaitMs);
    QVERIFY2(ctrl->getUnresolvedCount() < kGhosts / 2,
             qPrintable(QString::number(ctrl->getUnresolvedCount())));

    // The interface flaps, down and up, then without its address and with it again, while the
    // daemon is too busy to notice: it withdraws the encoder's records only once the interface
    // is back, and then announces them again. That is no goodbye.
    const pid_t daemon = qEnvironmentVariableIntValue("LUMISWEEP_AVAHI_PID");
    QVERIFY(daemon > 0 && ::kill(daemon, SIGSTOP) == 0);
    const auto resume = qScopeGuard([daemon] { ::kill(daemon, SIGCONT); });
    for (const auto &[lose, regain] : { std::pair("ip link set lan0 down", "ip link set lan0 up"),
                                        std::pair("ip addr del 198.18.0.1/27 dev lan0",
                                                  "ip addr add 198.18.0.1/27 dev lan0") }) {
        const auto count = [&](const QString &summary) {
            return std::min({ helper.summaries().count(summary), kernel.summaries().count(summary),
                              summaries().count(summary) });
        };
        const int lost = count("interface-lost 198.18.0.1");
        QVERIFY(run(lose));
        QTRY_VERIFY_WITH_TIMEOUT(count("interface-lost 198.18.0.1") > lost, kEventWaitMs);
        QVERIFY(run(regain));
        QTRY_VERIFY_WITH_TIMEOUT(count("interface-back 198.18.0.1") > lost, kEventWaitMs);
    }
    // A device boots; another takes a known address; one moves: the kernel's watch finds each
    // by its next sweep.
    QCOMPARE(Lan::control("add %1 device 198.18.0.20/27 08:ea:40:00:00:20 --name New --fw 1.0"),
             QString("198.18.0.20"));
    QTRY_VERIFY_WITH_TIMEOUT(told("appeared 198.18.0.20", false), kEventWaitMs);
    ::kill(daemon, SIGCONT);
    QVERIFY(Lan::control("add %1 device 198.18.0.2/27 0c:8c:24:00:00:22"));
    QTRY_VERIFY_WITH_TIMEOUT(helper.has("conflict 198.18.0.2"), kEventWaitMs);
    QVERIFY(Lan::control("move %1 198.18.0.3 198.18.0.13/27"));
    QTRY_VERIFY_WITH_TIMEOUT(told("changed 198.18.0.13 was 198.18.0.3", false), kEventWaitMs);
    // The encoder says goodbye, and comes back with another firmware.
    ::kill(service.processId(), SIGTERM);
    QVERIFY(service.waitForFinished());
    QTRY_VERIFY_WITH_TIMEOUT(summaries().contains("departed 198.18.0.4"), kEventWaitMs);
    service.start("avahi-publish", encoder + QStringList { "FW=3.1" });
    QTRY_VERIFY_WITH_TIMEOUT(summaries().contains("changed 198.18.0.4"), kEventWaitMs);
    // .4 loses its cable, for every watch (the mDNS one by ARP), and gets it back.
    QVERIFY(Lan::control("link %1 198.18.0.4 down"));
    QTRY_VERIFY_WITH_TIMEOUT(told("departed 198.18.0.4", false)
                                 && summaries().count("departed 198.18.0.4") == 2,
                             kEventWaitMs);
    QVERIFY(Lan::control("link %1 198.18.0.4 up"));
    QTRY_VERIFY_WITH_TIMEOUT(told("returned 198.18.0.4", false)
                                 && summaries().count("returned 198.18.0.4") == 2,
                             kEventWaitMs);
    // The interface comes back with another address: every watch ends, and says why.
    QVERIFY(run("ip addr del 198.18.0.1/27 dev lan0 && ip addr add 198.18.0.5/27 dev lan0"));
    for (Stream *stream : arp) {
        QVERIFY(stream->m_process.waitForFinished(kEventWaitMs));
        QCOMPARE(stream->m_process.exitCode(), 1);
        QCOMPARE(stream->m_process.readAllStandardError(),
                 QByteArray("lumisweep: lan0 came back with the address 198.18.0.5 instead of "
                            "198.18.0.1\n"));
        QCOMPARE(stream->events.last().value("reason").toString(), QString("readdressed"));
        QCOMPARE(stream->problems, QStringList());
    }
    QTRY_VERIFY_WITH_TIMEOUT(!ctrl->isWatching(), kEventWaitMs);
    QVERIFY(run("ip addr del 198.18.0.5/27 dev lan0 && ip addr add 198.18.0.1/27 dev lan0"));

    // Every event the helper's and the mDNS watch told, in order; nothing departed while the
    // interface was away, in any watch.
    const QStringList helperEvents = helper.summaries();
    const QStringList outage { "interface-lost 198.18.0.1", "interface-back 198.18.0.1" };
    const QStringList helperWants = present + outage + outage
        + QStringList { "appeared 198.18.0.20",
                        "conflict 198.18.0.2",
                        "changed 198.18.0.13 was 198.18.0.3",
                        "departed 198.18.0.4",
                        "returned 198.18.0.4",
                        outage.first(),
                        "end " };
    QCOMPARE(helperEvents, helperWants);
    QCOMPARE(helper.events.at(8).value("mac").toString(), QString("0C-8C-24-00-00-22"));
    const QStringList mdnsWants = QStringList { "appeared 198.18.0.4" } + outage + outage
        + QStringList { "departed 198.18.0.4",
                        "returned 198.18.0.4",
                        "changed 198.18.0.4",
                        "departed 198.18.0.4",
                        "returned 198.18.0.4",
                        outage.first(),
                        "end " };
    QCOMPARE(summaries(), mdnsWants);
    QCOMPARE(mdns.lines.at(7).section('|', 4, 4), QString("3.1"));
    const QStringList kernelEvents = kernel.summaries();
    for (const int back :
         { kernelEvents.indexOf(outage.last()), kernelEvents.lastIndexOf(outage.last()) }) {
        QCOMPARE(kernelEvents.at(back - 1), outage.first());
    }
}

QTEST_MAIN(TestWatch)
#include "tst_watch.moc"
