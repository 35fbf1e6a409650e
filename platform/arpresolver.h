#ifndef ARPRESOLVER_H
#define ARPRESOLVER_H

#include <QByteArray>
#include <QtGlobal>

#include <atomic>
#include <memory>

class LinuxNetlink;

// Asks the kernel for the hardware address of neighbours on one interface, without privileges,
// and reports a neighbour only when it answered during this resolution: a cached entry of the
// kernel is not an answer, since the host may have left the link minutes ago. Unanswered
// addresses get a second ARP request before they are given up.
//
// A resolution is started with begin() and then looked at with poll() until it is no longer
// Pending, so that a caller may keep several in flight and wait for slow neighbours together.
class ArpResolver
{
public:
    enum class Outcome {
        Pending, // nothing decided yet: poll again
        Answered, // the host answered since begin(); mac holds its address
        Silent, // it had its requests and its time, and did not answer
        Failed // the kernel could not be asked (no descriptor left, ...): nothing is known
    };
    class Resolution;
    struct ResolutionEnd
    {
        void operator()(Resolution *resolution) const;
    };
    using ResolutionPtr = std::unique_ptr<Resolution, ResolutionEnd>;

    explicit ArpResolver(int interfaceIndex);
    ~ArpResolver();
    ArpResolver(const ArpResolver &) = delete;
    ArpResolver &operator=(const ArpResolver &) = delete;

    // Starts one resolution of address (host byte order) and notes what the kernel knew of it.
    // Call it before anything is sent to the address: an echo starts ARP as well, and may have
    // to wait for room in the machine-wide neighbour table. Null when stop came first.
    ResolutionPtr begin(quint32 address, const std::atomic<bool> &stop);
    // echoAnswered: an echo reply came from the address since begin(), itself a fresh answer.
    Outcome poll(Resolution &resolution, bool echoAnswered, QByteArray *mac);

    // Sends one small UDP datagram to the discard port: the kernel queues it and starts ARP.
    static bool trigger(quint32 address);

private:
    std::unique_ptr<LinuxNetlink> m_netlink;
    const int m_interfaceIndex;
    const qint64 m_retransmitMs;
    const int m_requestsPerRound;
    const qint64 m_unresolvedLifetimeMs;
};

#endif // ARPRESOLVER_H
