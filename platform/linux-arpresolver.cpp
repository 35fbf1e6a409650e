#include "arpresolver.h"

#include <QElapsedTimer>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The states in which the kernel holds a usable hardware address (NUD_VALID in its own headers).
constexpr int kValidStates = NUD_PERMANENT | NUD_NOARP | NUD_REACHABLE | NUD_PROBE | NUD_STALE
    | NUD_DELAY;
// Nobody listens there; the datagram only has to make the kernel look for the neighbour.
constexpr quint16 kDiscardPort = 9;
// Poll the neighbour entry often at first (a LAN host answers within a few ms), then settle.
constexpr int kFirstPollMs = 1;
constexpr int kMaxPollMs = 20;
constexpr int kNetlinkReplyMs = 200;

class FdHolder
{
public:
    explicit FdHolder(int fd)
        : m_fd(fd)
    {
    }
    ~FdHolder()
    {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    FdHolder(const FdHolder &) = delete;
    FdHolder &operator=(const FdHolder &) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

struct NetlinkRequest
{
    nlmsghdr header;
    union {
        rtmsg route;
        ndmsg neighbour;
    };
    char attributes[64];
};

void addAttribute(NetlinkRequest *request, unsigned short type, const void *data, int length)
{
    auto *attribute = reinterpret_cast<rtattr *>(reinterpret_cast<char *>(request)
                                                 + NLMSG_ALIGN(request->header.nlmsg_len));
    attribute->rta_type = type;
    attribute->rta_len = RTA_LENGTH(length);
    std::memcpy(RTA_DATA(attribute), data, length);
    request->header.nlmsg_len = NLMSG_ALIGN(request->header.nlmsg_len) + RTA_ALIGN(attribute->rta_len);
}

// Sends one request and hands the matching answer to read(); false on an error answer or none.
template<typename Reader>
bool exchange(int fd, NetlinkRequest *request, quint32 sequence, Reader read)
{
    request->header.nlmsg_seq = sequence;
    sockaddr_nl kernel {};
    kernel.nl_family = AF_NETLINK;
    if (::sendto(fd, request, request->header.nlmsg_len, 0, reinterpret_cast<sockaddr *>(&kernel),
                 sizeof(kernel))
        < 0) {
        return false;
    }
    alignas(nlmsghdr) char buffer[8192];
    for (;;) {
        pollfd waiter { fd, POLLIN, 0 };
        if (::poll(&waiter, 1, kNetlinkReplyMs) <= 0) {
            return false;
        }
        const ssize_t length = ::recv(fd, buffer, sizeof(buffer), 0);
        if (length < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        int remaining = int(length);
        for (auto *message = reinterpret_cast<nlmsghdr *>(buffer); NLMSG_OK(message, remaining);
             message = NLMSG_NEXT(message, remaining)) {
            if (message->nlmsg_seq != sequence) {
                continue;
            }
            if (message->nlmsg_type == NLMSG_ERROR) {
                return false;
            }
            return read(message);
        }
    }
}

struct Route
{
    int interfaceIndex = 0;
    bool onLink = false;
};

Route routeTo(int fd, quint32 address, quint32 sequence)
{
    NetlinkRequest request {};
    request.header.nlmsg_len = NLMSG_LENGTH(sizeof(rtmsg));
    request.header.nlmsg_type = RTM_GETROUTE;
    request.header.nlmsg_flags = NLM_F_REQUEST;
    request.route.rtm_family = AF_INET;
    request.route.rtm_dst_len = 32;
    addAttribute(&request, RTA_DST, &address, sizeof(address));

    Route route;
    exchange(fd, &request, sequence, [&route](nlmsghdr *message) {
        const auto *answer = static_cast<rtmsg *>(NLMSG_DATA(message));
        bool viaGateway = false;
        int length = int(RTM_PAYLOAD(message));
        for (auto *attribute = RTM_RTA(answer); RTA_OK(attribute, length);
             attribute = RTA_NEXT(attribute, length)) {
            if (attribute->rta_type == RTA_OIF) {
                std::memcpy(&route.interfaceIndex, RTA_DATA(attribute), sizeof(int));
            } else if (attribute->rta_type == RTA_GATEWAY) {
                viaGateway = true;
            }
        }
        // Local, broadcast and gatewayed destinations have no neighbour entry of their own.
        route.onLink = answer->rtm_type == RTN_UNICAST && !viaGateway && route.interfaceIndex > 0;
        return true;
    });
    return route;
}

enum class EntryState { Missing, Resolving, Failed, Valid };

EntryState neighbourEntry(int fd, int interfaceIndex, quint32 address, quint32 sequence,
                          QByteArray *mac)
{
    NetlinkRequest request {};
    request.header.nlmsg_len = NLMSG_LENGTH(sizeof(ndmsg));
    request.header.nlmsg_type = RTM_GETNEIGH;
    request.header.nlmsg_flags = NLM_F_REQUEST;
    request.neighbour.ndm_family = AF_INET;
    request.neighbour.ndm_ifindex = interfaceIndex;
    addAttribute(&request, NDA_DST, &address, sizeof(address));

    EntryState state = EntryState::Missing;
    exchange(fd, &request, sequence, [&](nlmsghdr *message) {
        auto *answer = static_cast<ndmsg *>(NLMSG_DATA(message));
        QByteArray hardware;
        int length = int(message->nlmsg_len - NLMSG_LENGTH(sizeof(ndmsg)));
        for (auto *attribute = reinterpret_cast<rtattr *>(reinterpret_cast<char *>(answer)
                                                          + NLMSG_ALIGN(sizeof(ndmsg)));
             RTA_OK(attribute, length); attribute = RTA_NEXT(attribute, length)) {
            if (attribute->rta_type == NDA_LLADDR) {
                hardware = QByteArray(static_cast<const char *>(RTA_DATA(attribute)),
                                      int(RTA_PAYLOAD(attribute)));
            }
        }
        // STALE, DELAY and PROBE still hold the address the neighbour last answered with; the
        // kernel only re-confirms them after seconds, longer than any sweep waits.
        if ((answer->ndm_state & kValidStates) && hardware.size() == 6) {
            *mac = hardware;
            state = EntryState::Valid;
        } else if (answer->ndm_state & NUD_INCOMPLETE) {
            state = EntryState::Resolving;
        } else {
            state = EntryState::Failed;
        }
        return true;
    });
    return state;
}

void pause(int ms)
{
    ::poll(nullptr, 0, ms);
}

} // namespace

void ArpResolver::trigger(quint32 address)
{
    const FdHolder udp(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (udp.get() < 0) {
        return;
    }
    sockaddr_in target {};
    target.sin_family = AF_INET;
    target.sin_port = htons(kDiscardPort);
    target.sin_addr.s_addr = address;
    const char byte = 0;
    ::sendto(udp.get(), &byte, 1, MSG_DONTWAIT, reinterpret_cast<sockaddr *>(&target),
             sizeof(target));
}

bool ArpResolver::resolve(quint32 address, QByteArray *mac, const std::atomic<bool> &stop,
                          int waitMs)
{
    const FdHolder netlink(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE));
    if (netlink.get() < 0) {
        return false;
    }
    quint32 sequence = 1;
    const Route route = routeTo(netlink.get(), address, sequence++);
    if (!route.onLink) {
        return false;
    }

    QElapsedTimer clock;
    clock.start();
    EntryState state = neighbourEntry(netlink.get(), route.interfaceIndex, address, sequence++, mac);
    if (state == EntryState::Valid) {
        return true;
    }
    bool triggered = false;
    if (state != EntryState::Resolving) {
        trigger(address);
        triggered = true;
        state = neighbourEntry(netlink.get(), route.interfaceIndex, address, sequence++, mac);
        // The send creates the entry at once; none means the table is full or the link is gone.
        if (state == EntryState::Missing) {
            return false;
        }
    }

    int interval = kFirstPollMs;
    while (state == EntryState::Resolving && !stop.load(std::memory_order_relaxed)) {
        const qint64 left = waitMs - clock.elapsed();
        if (left <= 0) {
            break;
        }
        pause(int(qMin<qint64>(interval, left)));
        interval = qMin(interval * 2, kMaxPollMs);
        state = neighbourEntry(netlink.get(), route.interfaceIndex, address, sequence++, mac);
        // A resolution started by someone else may fail just after we came; ours gets its
        // own full wait.
        if (state == EntryState::Failed && !triggered) {
            trigger(address);
            triggered = true;
            state = EntryState::Resolving;
        }
    }
    return state == EntryState::Valid;
}
