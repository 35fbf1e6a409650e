#ifndef IPV4ROUTE_H
#define IPV4ROUTE_H

#include <QtGlobal>

#include <memory>

class LinuxNetlink;

// How the kernel would send to one IPv4 address right now: over which interface, and whether
// directly on that link. A sweep sends a probe only where this says "on the link it sweeps",
// so nothing goes through a gateway when the swept interface disappears.
class Ipv4Route
{
public:
    enum class Kind {
        OnLink, // a neighbour on a directly attached network
        Local, // one of this machine's own addresses
        Elsewhere, // through a gateway, or a broadcast
        Unreachable, // no route, or one that refuses (unreachable, blackhole, prohibit)
        Unknown // the kernel could not be asked
    };
    struct Hop
    {
        Kind kind = Kind::Unknown;
        int interfaceIndex = 0;
    };

    Ipv4Route();
    ~Ipv4Route();
    Ipv4Route(const Ipv4Route &) = delete;
    Ipv4Route &operator=(const Ipv4Route &) = delete;

    // address in host byte order.
    Hop to(quint32 address);

private:
    std::unique_ptr<LinuxNetlink> m_netlink;
};

#endif // IPV4ROUTE_H
