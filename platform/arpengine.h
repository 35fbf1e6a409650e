// ArpEngine: the program's end of lumisweep-arp, the small helper that alone holds CAP_NET_RAW.
#ifndef ARPENGINE_H
#define ARPENGINE_H

#include <QByteArray>
#include <QObject>
#include <QString>

#include <optional>

class QProcess;

// Runs the helper for one interface address, hands it ranges of addresses to ask, and turns each
// line it writes back into a typed signal. The helper sees every ARP answer itself (two hosts on
// one address, a host set to another subnet) rather than what the kernel's neighbour table kept.
//
// The helper is trusted no further than its protocol: a line that is not exactly one of its
// reports ends the session as failed. failed() also comes when the helper is missing, has no
// capability (then use the kernel's path), loses its link, or exits; it is the last signal of a
// session. The helper asks at most 65,536 distinct addresses a run, and one address at most
// three times in any 10 s; it ends the session when asked for more. It reports every answer to
// each request (replied), and, rate-limited, what else it hears on the link (heard). Lives in
// the thread that creates it; addresses in host byte order, MACs as six bytes.
class ArpEngine : public QObject
{
    Q_OBJECT
public:
    enum class Failure {
        // The helper cannot run here: missing, without CAP_NET_RAW, or it refused the interface
        // or the address. The kernel's path can do instead.
        Unavailable,
        // Once ready: the address left the interface, its MAC changed, or it went down or away.
        LinkLost,
        // Once ready: it broke its protocol, refused a request, failed, crashed or exited.
        Broken
    };
    Q_ENUM(Failure)

    // One line of the helper, parsed.
    struct Report
    {
        enum class Kind { Ready, Reply, Heard, Idle, Error };
        enum class Error { Refused, Unavailable, Lost, Failed };
        Kind kind = Kind::Idle;
        quint32 address = 0;
        QByteArray mac;
        Error error = Error::Failed; // an Error's kind
        QString text; // an Error's text
    };

    explicit ArpEngine(QObject *parent = nullptr);
    ~ArpEngine() override;

    // Next to the running program, else where the package installs it.
    static QString defaultHelperPath();
    void setHelperPath(const QString &path);

    // ready() or failed() follows.
    void start(const QString &interfaceName, quint32 source);
    // One request to each address of first..last.
    void send(quint32 first, quint32 last);
    // Ends the session, waiting a bounded time for the helper; no signal comes after it.
    void stop();
    bool isRunning() const { return m_process != nullptr; }

    // A line without its LF; nothing unless it is exactly one of the helper's reports.
    static std::optional<Report> parseReport(const QByteArray &line);

signals:
    void ready(const QByteArray &mac);
    void replied(quint32 address, const QByteArray &mac);
    void heard(quint32 address, const QByteArray &mac);
    void idle();
    void failed(ArpEngine::Failure failure, const QString &reason);

private:
    void readReports();
    // False when the report ended the session.
    bool handle(const Report &report, const QByteArray &line);
    // gently: the helper is leaving by itself and gets its time to; otherwise it is killed.
    void fail(Failure failure, const QString &reason, bool gently = false);
    void end(bool gently);

    QProcess *m_process = nullptr;
    QString m_helperPath;
    quint32 m_source = 0;
    bool m_ready = false;
};

#endif // ARPENGINE_H
