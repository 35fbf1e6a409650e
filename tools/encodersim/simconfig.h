#ifndef SIMCONFIG_H
#define SIMCONFIG_H

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QString>
#include <QStringList>

// How one HTTP endpoint of the simulated encoder answers.
struct EndpointBehaviour
{
    enum class Fault {
        None,
        NotFound,
        TextPlain,
        Delay,
        Hang,
        Endless,
        Huge,
        Drip,
        GzipBomb,
        EndlessHeaders
    };

    QByteArray body;
    QByteArray contentType = "application/octet-stream";
    Fault fault = Fault::None;
    qint64 argument = 0; // delay in ms, or body size for Huge
};

// The simulator's command line: identity, per-endpoint behaviour, ARP tricks.
class SimConfig
{
public:
    static constexpr quint16 kDefaultHttpPort = 80;
    static constexpr quint16 kDefaultIdentifyPort = 1300;

    // False with a message in *error when the command line cannot be used.
    bool parse(const QStringList &arguments, QString *error);

    QHostAddress address;
    QString interfaceName;
    QString directory;
    QString fileKey; // names this device's files in directory; the address unless given
    quint16 httpPort = kDefaultHttpPort;
    quint16 identifyPort = kDefaultIdentifyPort;
    QByteArray hardwareAddress; // six bytes, from the interface
    QHash<QString, EndpointBehaviour> endpoints; // keyed by path
    int arpDelayMs = -1; // < 0: answered at once
    int arpDropCount = 0; // requests for the own address ignored before the first answer
    quint32 arpAnswerNetwork = 0;
    quint32 arpAnswerMask = 0; // 0: answer for no foreign address
    int leaveAfterRequests = 0; // 0: stay on the LAN
    int announcements = 0; // gratuitous ARP requests once listening, as a booting device sends

    // Otherwise the kernel answers ARP for the device's address, at once.
    bool answersOwnArp() const { return arpDelayMs >= 0 || arpDropCount > 0; }
    bool needsPacketSocket() const
    {
        return answersOwnArp() || arpAnswerMask != 0 || announcements > 0;
    }

    // "\\0", "\\r", "\\n", "\\t", "\\\\" and "\\xHH" become their bytes.
    static QByteArray unescape(const QString &text);
};

#endif // SIMCONFIG_H
