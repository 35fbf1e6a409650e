#include "ipv4address.h"

#include <arpa/inet.h>
#include <netinet/in.h>

bool Ipv4Address::parse(const QString &text, quint32 *networkOrder)
{
    const QByteArray bytes = text.toLocal8Bit();
    // A NUL inside the text would make inet_aton read only its first part.
    if (bytes.isEmpty() || bytes.contains('\0')) {
        return false;
    }
    in_addr address {};
    if (inet_aton(bytes.constData(), &address) == 0) {
        return false;
    }
    *networkOrder = address.s_addr;
    return true;
}

bool Ipv4Address::isUnicast(quint32 networkOrder)
{
    const quint32 host = ntohl(networkOrder);
    return (host >> 24) != 0 && !IN_MULTICAST(host) && host != INADDR_BROADCAST;
}
