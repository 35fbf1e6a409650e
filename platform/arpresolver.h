#ifndef ARPRESOLVER_H
#define ARPRESOLVER_H

#include <QByteArray>
#include <QtGlobal>

#include <atomic>

// Asks the kernel for the hardware address of an on-link IPv4 neighbour, the way the system's
// own ARP would find it: no privileges needed, nothing sent but one datagram that starts the
// resolution.
class ArpResolver
{
public:
    // How long a neighbour may take to answer. A device that answers 200 ms late is still found;
    // a silent address costs this much and no more.
    static constexpr int kWaitMs = 600;

    // address in network byte order. On success stores the six bytes of the hardware address.
    // Returns early, without an answer, when stop becomes true.
    static bool resolve(quint32 address, QByteArray *mac, const std::atomic<bool> &stop,
                        int waitMs = kWaitMs);
    // Sends one small UDP datagram to the discard port: the kernel queues it and starts ARP.
    static void trigger(quint32 address);
};

#endif // ARPRESOLVER_H
