#include "icmpecho.h"

#include "neighbourtable.h"
#include "fdholder_linux.h"
#include "interfacebinding_linux.h"

#include <QElapsedTimer>

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <linux/icmp.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace IcmpEcho {

namespace {

constexpr int kIcmpHeaderSize = 8;
constexpr int kMaxPayload = 1024;

quint16 checksum(const unsigned char *data, int length)
{
    quint32 sum = 0;
    for (int i = 0; i + 1 < length; i += 2) {
        sum += quint32(data[i]) << 8 | data[i + 1];
    }
    if (length % 2) {
        sum += quint32(data[length - 1]) << 8;
    }
    while (sum >> 16) {
        sum = (sum & 0xffff) + (sum >> 16);
    }
    return quint16(~sum);
}

// Echo requests of concurrent callers must not take each other's replies on raw sockets, which
// see every ICMP packet of the host.
quint16 nextIdentifier()
{
    static std::atomic<quint32> counter { quint32(::getpid()) * 2654435761u };
    return quint16(counter.fetch_add(1, std::memory_order_relaxed));
}

bool replyMatches(const unsigned char *icmp, int length, quint16 identifier, quint16 sequence,
                  const QByteArray &payload, bool checkIdentifier)
{
    if (length < kIcmpHeaderSize + payload.size() || icmp[0] != ICMP_ECHOREPLY || icmp[1] != 0) {
        return false;
    }
    if (checkIdentifier && (icmp[4] << 8 | icmp[5]) != identifier) {
        return false;
    }
    if ((icmp[6] << 8 | icmp[7]) != sequence) {
        return false;
    }
    return std::memcmp(icmp + kIcmpHeaderSize, payload.constData(), size_t(payload.size())) == 0;
}

// Waits for the reply to one echo request on fd, at most timeoutMs.
bool awaitReply(int fd, bool raw, quint32 address, quint16 identifier, quint16 sequence,
                const QByteArray &payload, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    unsigned char reply[sizeof(iphdr) + 60 + kIcmpHeaderSize + kMaxPayload];
    for (;;) {
        const qint64 left = timeoutMs - clock.elapsed();
        pollfd waiter { fd, POLLIN, 0 };
        if (left <= 0 || ::poll(&waiter, 1, int(left)) <= 0) {
            return false;
        }
        sockaddr_in from {};
        socklen_t fromLength = sizeof(from);
        const ssize_t length = ::recvfrom(fd, reply, sizeof(reply), MSG_DONTWAIT,
                                          reinterpret_cast<sockaddr *>(&from), &fromLength);
        if (length <= 0 || from.sin_addr.s_addr != htonl(address)) {
            continue;
        }
        const unsigned char *icmp = reply;
        int icmpLength = int(length);
        if (raw) {
            const int headerLength = (reply[0] & 0x0f) * 4;
            icmp += headerLength;
            icmpLength -= headerLength;
        }
        // Datagram sockets rewrite the identifier to their own port number.
        if (replyMatches(icmp, icmpLength, identifier, sequence, payload, raw)) {
            return true;
        }
    }
}

} // namespace

bool send(quint32 address, const QByteArray &payload, int timeoutMs, int interfaceIndex)
{
    if (payload.size() > kMaxPayload) {
        return false;
    }
    // The datagram kind needs net.ipv4.ping_group_range to include our group, the raw kind
    // needs CAP_NET_RAW; the kernel then matches replies to datagram sockets by itself.
    FdHolder datagram(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP));
    FdHolder rawSocket(datagram.get() < 0 ? ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP)
                                          : -1);
    const bool raw = datagram.get() < 0;
    const int fd = raw ? rawSocket.get() : datagram.get();
    if (fd < 0) {
        NeighbourTable::trigger(address, interfaceIndex);
        return false;
    }
    if (!bindToInterface(fd, interfaceIndex)) {
        return false;
    }
    if (raw) {
        icmp_filter filter {};
        filter.data = ~(1u << ICMP_ECHOREPLY);
        ::setsockopt(fd, SOL_RAW, ICMP_FILTER, &filter, sizeof(filter));
    }
    const quint16 identifier = nextIdentifier();
    const quint16 sequence = 1;
    unsigned char request[kIcmpHeaderSize + kMaxPayload] = {};
    request[0] = ICMP_ECHO;
    request[4] = identifier >> 8;
    request[5] = identifier & 0xff;
    request[6] = sequence >> 8;
    request[7] = sequence & 0xff;
    std::memcpy(request + kIcmpHeaderSize, payload.constData(), size_t(payload.size()));
    const int requestSize = kIcmpHeaderSize + payload.size();
    const quint16 sum = checksum(request, requestSize);
    request[2] = sum >> 8;
    request[3] = sum & 0xff;
    sockaddr_in target {};
    target.sin_family = AF_INET;
    target.sin_addr.s_addr = htonl(address);
    return ::sendto(fd, request, size_t(requestSize), 0, reinterpret_cast<sockaddr *>(&target),
                    sizeof(target))
        >= 0
        && awaitReply(fd, raw, address, identifier, sequence, payload, timeoutMs);
}

} // namespace IcmpEcho
