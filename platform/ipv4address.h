#ifndef IPV4ADDRESS_H
#define IPV4ADDRESS_H

#include <QString>
#include <QtGlobal>

// Reads IPv4 address texts the way the system's inet_addr does (dotted decimal, and the short,
// octal and hexadecimal forms), but says when a text is no address at all. inet_addr answers
// such a text with 255.255.255.255, and a probe sent there would be a broadcast.
class Ipv4Address
{
public:
    // On success stores the address in network byte order.
    static bool parse(const QString &text, quint32 *networkOrder);
    // True for an address a sweep may send to: not 0.0.0.0/8, not multicast, not limited broadcast.
    static bool isUnicast(quint32 networkOrder);
};

#endif // IPV4ADDRESS_H
