#ifndef ICMPECHO_H
#define ICMPECHO_H

#include <QByteArray>
#include <QtGlobal>

// One ICMP echo exchange with a bounded wait. Where the system allows neither an ICMP datagram
// socket nor a raw socket, a plain datagram is sent instead so that the kernel still resolves the
// neighbour, and the result is false.
namespace IcmpEcho {

// address in host byte order; true when an echo reply carrying the payload came back.
bool send(quint32 address, const QByteArray &payload, int timeoutMs);

} // namespace IcmpEcho

#endif // ICMPECHO_H
