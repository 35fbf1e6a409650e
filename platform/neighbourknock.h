#ifndef NEIGHBOURKNOCK_H
#define NEIGHBOURKNOCK_H

#include <QtGlobal>

#include <memory>

// A knock at a neighbour the kernel already knew: a TCP connection attempt to port 80 (the
// encoders serve HTTP, and any other host still answers with a reset) and a datagram to the
// discard port (answered, if at all, by a port-unreachable). Either answer comes from the host
// itself, now; the kernel's own "unreachable" after a failed resolution does not count.
class NeighbourKnock
{
public:
    NeighbourKnock();
    ~NeighbourKnock();
    NeighbourKnock(const NeighbourKnock &) = delete;
    NeighbourKnock &operator=(const NeighbourKnock &) = delete;

    // Sends both, through the given interface or not at all; false when the sockets could not be
    // opened or the interface is gone.
    bool start(quint32 address, int interfaceIndex);
    bool isStarted() const;
    // Looks without waiting.
    bool answered() const;

private:
    struct Sockets;
    std::unique_ptr<Sockets> m_sockets;
};

#endif // NEIGHBOURKNOCK_H
