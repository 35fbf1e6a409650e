#ifndef NEIGHBOURTABLE_H
#define NEIGHBOURTABLE_H

#include <QByteArray>
#include <QtGlobal>

#include <memory>

class LinuxNetlink;

// The kernel's neighbour table (the ARP cache) of one interface, read over rtnetlink, and the
// unprivileged way to make the kernel ask a neighbour: a datagram to it starts resolution.
// It only reads and sends; when an entry counts as an answer is decided above this layer.
class NeighbourTable
{
public:
    struct Entry
    {
        enum class State {
            Missing, // no entry
            Unknown, // the kernel could not be asked
            Resolving, // requests out, no answer yet (INCOMPLETE)
            Failed, // the kernel's requests went unanswered
            Holds // the kernel holds a hardware address (REACHABLE, STALE, DELAY, PROBE, ...)
        };
        State state = State::Missing;
        QByteArray mac; // six bytes, in Holds
        qint64 confirmedAgeMs = 0; // how long ago the neighbour last answered, in Holds
    };

    explicit NeighbourTable(int interfaceIndex);
    ~NeighbourTable();
    NeighbourTable(const NeighbourTable &) = delete;
    NeighbourTable &operator=(const NeighbourTable &) = delete;

    // False when the kernel cannot be asked at all (no descriptor left, ...).
    bool isOpen() const;
    // address in host byte order.
    Entry read(quint32 address);
    // The interface's ARP timing: the gap between two requests, and the requests of one round
    // (multicast and application solicitations).
    qint64 retransmitMs() const { return m_retransmitMs; }
    int requestsPerRound() const { return m_requestsPerRound; }

    // Sends one small UDP datagram to the discard port: the kernel queues it and starts ARP.
    // With an interface index, it leaves through that interface or not at all.
    static bool trigger(quint32 address, int interfaceIndex = 0);

private:
    std::unique_ptr<LinuxNetlink> m_netlink;
    const int m_interfaceIndex;
    const qint64 m_retransmitMs;
    const int m_requestsPerRound;
};

#endif // NEIGHBOURTABLE_H
