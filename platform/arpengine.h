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
// capability (then use the kernel's path), or exits; it is the last signal of a session. Per
// run the helper asks at most 65,536 distinct addresses, each at most three times, and ends the
// session when asked for more. Lives in the thread that creates it; addresses in host byte order,
// MACs as six bytes.
class ArpEngine : public QObject
{
    Q_OBJECT
public:
    // One line of the helper, parsed.
    struct Report
    {
        enum class Kind { Ready, Reply, Heard, Idle, Error };
        Kind kind = Kind::Idle;
        quint32 address = 0;
        QByteArray mac;
        QString text; // an Error's text
    };

    static constexpr int kMaxRate = 2000;

    explicit ArpEngine(QObject *parent = nullptr);
    ~ArpEngine() override;

    // Next to the running program, else where the package installs it.
    static QString defaultHelperPath();
    void setHelperPath(const QString &path);

    // ready() or failed() follows.
    void start(const QString &interfaceName, quint32 source);
    // One request to each address of first..last.
    void send(quint32 first, quint32 last);
    // Frames per second, 1..kMaxRate; the helper starts at kMaxRate.
    void setRate(int framesPerSecond);
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
    void failed(const QString &reason);

private:
    void readReports();
    void fail(const QString &reason);
    void end(bool gently);

    QProcess *m_process = nullptr;
    QString m_helperPath;
    quint32 m_source = 0;
    bool m_ready = false;
};

#endif // ARPENGINE_H
