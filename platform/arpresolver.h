#ifndef ARPRESOLVER_H
#define ARPRESOLVER_H

#include <QByteArray>
#include <QtGlobal>

#include <atomic>
#include <memory>

// Asks the kernel for the hardware address of an on-link IPv4 neighbour, the way the system's
// own ARP would find it: no privileges needed, nothing sent but one datagram that starts the
// resolution.
class ArpResolver
{
public:
    // How long a neighbour may take to answer. A device that answers 200 ms late is still found;
    // a silent address costs this much and no more.
    static constexpr int kWaitMs = 600;

    // address in network byte order.
    explicit ArpResolver(quint32 address);
    ~ArpResolver();
    ArpResolver(const ArpResolver &) = delete;
    ArpResolver &operator=(const ArpResolver &) = delete;

    // Waits for room in the program's share of the neighbour table before anything is sent to
    // the address (an echo starts ARP as well). The table is one for the whole machine, and a
    // full table breaks ARP for every program. False only when stop came first.
    bool reserve(const std::atomic<bool> &stop);
    // On success stores the six bytes of the hardware address. Returns early, without an
    // answer, when stop becomes true.
    bool resolve(QByteArray *mac, const std::atomic<bool> &stop, int waitMs = kWaitMs);

    // How many resolutions the program keeps unanswered in the neighbour table at once.
    static int unresolvedBudget();
    // Sends one small UDP datagram to the discard port: the kernel queues it and starts ARP.
    static void trigger(quint32 address);

private:
    struct Reservation;

    bool findRoute();

    quint32 m_address;
    int m_interfaceIndex = 0; // 0: not looked up yet, -1: not on a local link
    bool m_answered = false;
    std::unique_ptr<Reservation> m_reservation;
};

#endif // ARPRESOLVER_H
