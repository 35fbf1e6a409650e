#ifndef ICMPECHO_H
#define ICMPECHO_H

#include <QByteArray>
#include <QtGlobal>

// One ICMP echo exchange with a bounded wait. Where the system allows neither an ICMP datagram
// socket nor a raw socket, a plain datagram is sent instead so that the kernel still resolves the
// neighbour, and the result is false.
namespace IcmpEcho {

// address in host byte order; true when an echo reply carrying the payload came back. With an
// interface index, the request leaves through that interface or not at all.
bool send(quint32 address, const QByteArray &payload, int timeoutMs, int interfaceIndex = 0);

} // namespace IcmpEcho

#endif // ICMPECHO_H
