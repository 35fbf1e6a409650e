#include "arpresolver.h"

#include "linux-fdholder.h"

#include <QElapsedTimer>
#include <QFile>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The states in which the kernel holds a usable hardware address (NUD_VALID in its own headers).
constexpr int kValidStates
    = NUD_PERMANENT | NUD_NOARP | NUD_REACHABLE | NUD_PROBE | NUD_STALE | NUD_DELAY;
// Nobody listens there; the datagram only has to make the kernel look for the neighbour.
constexpr quint16 kDiscardPort = 9;
// Poll the neighbour entry often at first (a LAN host answers within a few ms), then settle.
constexpr int kFirstPollMs = 1;
constexpr int kMaxPollMs = 20;
constexpr int kNetlinkReplyMs = 200;

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
    request->header.nlmsg_len
        = NLMSG_ALIGN(request->header.nlmsg_len) + RTA_ALIGN(attribute->rta_len);
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

qint64 readNumber(const QString &path, qint64 fallback)
{
    QFile file(path);
    bool ok = false;
    const qint64 value
        = file.open(QIODevice::ReadOnly) ? file.readAll().trimmed().toLongLong(&ok) : 0;
    return ok && value > 0 ? value : fallback;
}

// The kernel's neighbour table is one table for the whole machine (every namespace counts
// against the same gc_thresh3, 1024 by default), and an address that does not answer stays in
// it, unresolved, for mcast_solicit x retrans_time (3 s by default) - long after a sweep worker
// has given up on it. Unchecked, a sweep of a /22 or wider fills the table and the kernel then
// drops neighbour resolution for every program on the machine ("neighbor table overflow").
// So the sweep keeps the resolutions it has started and not yet seen answered within a budget
// well below that limit, and waits for room before it starts another.
class UnresolvedBudget
{
public:
    using Clock = std::chrono::steady_clock;
    using Slot = std::multimap<Clock::time_point, int>::iterator;

    static UnresolvedBudget &instance()
    {
        static UnresolvedBudget budget;
        return budget;
    }

    // Reserves room for one resolution that the kernel may keep for lifetimeMs; false if stop
    // came first.
    bool acquire(qint64 lifetimeMs, const std::atomic<bool> &stop, Slot *slot)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            const Clock::time_point now = Clock::now();
            m_pending.erase(m_pending.begin(), m_pending.upper_bound(now));
            if (int(m_pending.size()) < m_capacity) {
                *slot = m_pending.emplace(now + std::chrono::milliseconds(lifetimeMs), 0);
                return true;
            }
            if (stop.load(std::memory_order_relaxed)) {
                return false;
            }
            // Wake at the earliest expiry, on a release, or soon enough to notice a stop.
            const Clock::time_point until
                = std::min(m_pending.begin()->first, now + std::chrono::milliseconds(kStopCheckMs));
            m_roomFreed.wait_until(lock, until);
        }
    }

    // The neighbour answered: its entry no longer counts as unresolved.
    void release(Slot slot)
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (slot->first > Clock::now()) {
                m_pending.erase(slot);
            }
        }
        m_roomFreed.notify_one();
    }

    int capacity() const { return m_capacity; }

private:
    static constexpr int kStopCheckMs = 20;
    static constexpr qint64 kDefaultTableLimit = 1024;

    UnresolvedBudget()
        // Half the table: the rest stays for the machine's own traffic and other programs.
        // Inside a network namespace the limit is not readable; the kernel's default holds.
        : m_capacity(int(readNumber(QStringLiteral("/proc/sys/net/ipv4/neigh/default/gc_thresh3"),
                                    kDefaultTableLimit)
                         / 2))
    {
    }

    std::mutex m_mutex;
    std::condition_variable m_roomFreed;
    std::multimap<Clock::time_point, int> m_pending;
    const int m_capacity;
};

// How long the kernel keeps an unanswered entry for this interface: its multicast probes, each
// a retransmit interval apart, plus the probes it leaves to user space.
qint64 unresolvedLifetimeMs(int interfaceIndex)
{
    char name[IF_NAMESIZE] = {};
    if (!::if_indextoname(unsigned(interfaceIndex), name)) {
        return 3250;
    }
    const QString folder
        = QStringLiteral("/proc/sys/net/ipv4/neigh/%1/").arg(QString::fromLocal8Bit(name));
    const qint64 probes = readNumber(folder + QLatin1String("mcast_solicit"), 3)
        + readNumber(folder + QLatin1String("app_solicit"), 0);
    // The kernel's timers run late by tens of milliseconds under load; entries of a whole wave
    // of resolutions must be gone before the next wave starts.
    constexpr qint64 kTimerSlackMs = 250;
    return probes * readNumber(folder + QLatin1String("retrans_time_ms"), 1000) + kTimerSlackMs;
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

struct ArpResolver::Reservation
{
    UnresolvedBudget::Slot slot;
};

ArpResolver::ArpResolver(quint32 address) : m_address(address) { }

ArpResolver::~ArpResolver()
{
    // An answered neighbour leaves the unresolved budget at once; an unanswered one keeps its
    // room until the kernel is done with the entry.
    if (m_reservation && m_answered) {
        UnresolvedBudget::instance().release(m_reservation->slot);
    }
}

bool ArpResolver::findRoute()
{
    if (m_interfaceIndex == 0) {
        const FdHolder netlink(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE));
        if (netlink.get() < 0) {
            return false;
        }
        const Route route = routeTo(netlink.get(), m_address, 1);
        m_interfaceIndex = route.onLink ? route.interfaceIndex : -1;
    }
    return m_interfaceIndex > 0;
}

bool ArpResolver::reserve(const std::atomic<bool> &stop)
{
    if (m_reservation || !findRoute()) {
        return true; // held already, or no neighbour entry will ever be made for the address
    }
    UnresolvedBudget::Slot slot;
    if (!UnresolvedBudget::instance().acquire(unresolvedLifetimeMs(m_interfaceIndex), stop,
                                              &slot)) {
        return false;
    }
    m_reservation.reset(new Reservation { slot });
    return true;
}

bool ArpResolver::resolve(QByteArray *mac, const std::atomic<bool> &stop, int waitMs)
{
    const FdHolder netlink(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE));
    if (netlink.get() < 0 || !findRoute()) {
        return false;
    }
    const int interfaceIndex = m_interfaceIndex;
    const quint32 address = m_address;
    quint32 sequence = 1;

    QElapsedTimer clock;
    clock.start();
    EntryState state = neighbourEntry(netlink.get(), interfaceIndex, address, sequence++, mac);
    if (state == EntryState::Valid) {
        m_answered = true;
        return true;
    }
    bool triggered = false;
    if (state != EntryState::Resolving) {
        if (!reserve(stop)) {
            return false;
        }
        // The wait for room is not the neighbour's time to answer.
        clock.restart();
        trigger(address);
        triggered = true;
        state = neighbourEntry(netlink.get(), interfaceIndex, address, sequence++, mac);
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
        state = neighbourEntry(netlink.get(), interfaceIndex, address, sequence++, mac);
        // A resolution started by someone else may fail just after we came; ours gets its
        // own full wait.
        if (state == EntryState::Failed && !triggered) {
            if (!reserve(stop)) {
                return false;
            }
            trigger(address);
            triggered = true;
            state = EntryState::Resolving;
        }
    }
    m_answered = state == EntryState::Valid;
    return m_answered;
}

int ArpResolver::unresolvedBudget()
{
    return UnresolvedBudget::instance().capacity();
}
