#include "arpresolver.h"

#include "linux-fdholder.h"
#include "linux-neighbourbudget.h"
#include "linux-netlink.h"

#include <QElapsedTimer>
#include <QFile>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <linux/neighbour.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Where a datagram starts resolution: nobody listens there, and a host answers it, if at all,
// with a port-unreachable, which is an answer as good as any.
constexpr quint16 kDiscardPort = 9;
// Where a cached neighbour is knocked at: the encoders serve HTTP, and any host that does not
// still answers a connection attempt with a reset.
constexpr quint16 kKnockPort = 80;
// Time for an answer to a request the kernel has just sent; LAN hosts answer within a few ms.
constexpr qint64 kAnswerMarginMs = 250;
// How far apart two reads of one confirmation's time may lie (see poll()).
constexpr qint64 kConfirmationSlackMs = 50;
// The kernel's timers run late by tens of milliseconds under load.
constexpr qint64 kTimerSlackMs = 250;
// The states in which the kernel holds a hardware address (NUD_VALID in its own headers).
constexpr int kHoldsAddress
    = NUD_PERMANENT | NUD_NOARP | NUD_REACHABLE | NUD_PROBE | NUD_STALE | NUD_DELAY;

qint64 readNumber(const QString &path, qint64 fallback)
{
    QFile file(path);
    bool ok = false;
    const qint64 value
        = file.open(QIODevice::ReadOnly) ? file.readAll().trimmed().toLongLong(&ok) : 0;
    return ok && value > 0 ? value : fallback;
}

QString neighbourSetting(int interfaceIndex, const char *name)
{
    char interfaceName[IF_NAMESIZE] = {};
    const QString folder = ::if_indextoname(unsigned(interfaceIndex), interfaceName)
        ? QString::fromLocal8Bit(interfaceName)
        : QStringLiteral("default");
    return QStringLiteral("/proc/sys/net/ipv4/neigh/%1/%2").arg(folder, QLatin1String(name));
}

struct Entry
{
    enum State { Missing, Resolving, Failed, Holds } state = Missing;
    QByteArray mac;
    // When the neighbour last answered, on the resolution's clock; meaningful in Holds.
    qint64 confirmedAtMs = 0;
};

Entry readEntry(LinuxNetlink &netlink, int interfaceIndex, quint32 address, qint64 nowMs)
{
    ndmsg request {};
    request.ndm_family = AF_INET;
    request.ndm_ifindex = interfaceIndex;
    Entry entry;
    static const long ticksPerSecond = ::sysconf(_SC_CLK_TCK);
    netlink.get(RTM_GETNEIGH, &request, sizeof(request), NDA_DST, htonl(address),
                [&](const nlmsghdr *message) {
                    const auto *answer = static_cast<const ndmsg *>(NLMSG_DATA(message));
                    int length = int(message->nlmsg_len - NLMSG_LENGTH(sizeof(ndmsg)));
                    qint64 confirmedAgeMs = 0;
                    for (auto *attribute = reinterpret_cast<const rtattr *>(
                             reinterpret_cast<const char *>(answer) + NLMSG_ALIGN(sizeof(ndmsg)));
                         RTA_OK(attribute, length); attribute = RTA_NEXT(attribute, length)) {
                        if (attribute->rta_type == NDA_LLADDR) {
                            entry.mac = QByteArray(static_cast<const char *>(RTA_DATA(attribute)),
                                                   int(RTA_PAYLOAD(attribute)));
                        } else if (attribute->rta_type == NDA_CACHEINFO
                                   && RTA_PAYLOAD(attribute) >= sizeof(nda_cacheinfo)) {
                            nda_cacheinfo info {};
                            std::memcpy(&info, RTA_DATA(attribute), sizeof(info));
                            confirmedAgeMs
                                = qint64(info.ndm_confirmed) * 1000 / qMax(1L, ticksPerSecond);
                        }
                    }
                    if ((answer->ndm_state & kHoldsAddress) && entry.mac.size() == 6) {
                        entry.state = Entry::Holds;
                        entry.confirmedAtMs = nowMs - confirmedAgeMs;
                    } else if (answer->ndm_state & NUD_INCOMPLETE) {
                        entry.state = Entry::Resolving;
                    } else {
                        entry.state = Entry::Failed;
                    }
                    return true;
                });
    return entry;
}

} // namespace

// One address being resolved. A neighbour the kernel already knew ("cached") must show it is
// still there: an echo reply, a confirmation the kernel records after begin(), or an answer to a
// knock (a connection attempt, and a datagram whose port-unreachable counts as well).
class ArpResolver::Resolution
{
public:
    quint32 address = 0;
    QElapsedTimer clock;
    qint64 deadlineMs = 0;
    bool failed = false;
    bool cached = false;
    qint64 cachedConfirmedAtMs = 0;
    int rounds = 0; // rounds of ARP requests the kernel was asked for
    // An unanswered entry keeps its room in the budget until the kernel is done with it: the
    // reservation expires by itself.
    NeighbourBudget::Token token = 0;
    FdHolder knockStream;
    FdHolder knockDatagram;

    bool knock();
    bool knockAnswered() const;
};

bool ArpResolver::Resolution::knock()
{
    sockaddr_in target {};
    target.sin_family = AF_INET;
    target.sin_addr.s_addr = htonl(address);
    knockStream = FdHolder(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    knockDatagram = FdHolder(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (knockStream.get() < 0 || knockDatagram.get() < 0) {
        return false;
    }
    target.sin_port = htons(kKnockPort);
    ::connect(knockStream.get(), reinterpret_cast<sockaddr *>(&target), sizeof(target));
    target.sin_port = htons(kDiscardPort);
    if (::connect(knockDatagram.get(), reinterpret_cast<sockaddr *>(&target), sizeof(target))
        == 0) {
        const char byte = 0;
        ::send(knockDatagram.get(), &byte, 1, MSG_DONTWAIT);
    }
    return true;
}

bool ArpResolver::Resolution::knockAnswered() const
{
    if (knockStream.get() < 0) {
        return false;
    }
    // A completed handshake and a reset both come from the host itself; our own kernel's
    // "unreachable" after a failed resolution does not.
    pollfd stream { knockStream.get(), POLLOUT, 0 };
    if (::poll(&stream, 1, 0) > 0) {
        int error = 0;
        socklen_t size = sizeof(error);
        ::getsockopt(knockStream.get(), SOL_SOCKET, SO_ERROR, &error, &size);
        if (error == 0 || error == ECONNREFUSED) {
            return true;
        }
    }
    char byte = 0;
    return ::recv(knockDatagram.get(), &byte, 1, MSG_DONTWAIT) < 0 && errno == ECONNREFUSED;
}

ArpResolver::ArpResolver(int interfaceIndex)
    : m_netlink(new LinuxNetlink)
    , m_interfaceIndex(interfaceIndex)
    , m_retransmitMs(readNumber(neighbourSetting(interfaceIndex, "retrans_time_ms"), 1000))
    , m_requestsPerRound(int(readNumber(neighbourSetting(interfaceIndex, "mcast_solicit"), 3)
                             + readNumber(neighbourSetting(interfaceIndex, "app_solicit"), 0)))
    , m_unresolvedLifetimeMs(m_requestsPerRound * m_retransmitMs + kTimerSlackMs)
{
}

ArpResolver::~ArpResolver() = default;

bool ArpResolver::trigger(quint32 address)
{
    const FdHolder udp(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (udp.get() < 0) {
        return false;
    }
    sockaddr_in target {};
    target.sin_family = AF_INET;
    target.sin_port = htons(kDiscardPort);
    target.sin_addr.s_addr = htonl(address);
    const char byte = 0;
    return ::sendto(udp.get(), &byte, 1, MSG_DONTWAIT, reinterpret_cast<sockaddr *>(&target),
                    sizeof(target))
        >= 0
        || errno == EAGAIN;
}

void ArpResolver::ResolutionEnd::operator()(Resolution *resolution) const
{
    delete resolution;
}

ArpResolver::ResolutionPtr ArpResolver::begin(quint32 address, const std::atomic<bool> &stop)
{
    ResolutionPtr resolution(new Resolution);
    resolution->address = address;
    resolution->clock.start();
    if (!m_netlink->isOpen()) {
        resolution->failed = true;
        return resolution;
    }
    const Entry before = readEntry(*m_netlink, m_interfaceIndex, address, 0);
    resolution->cached = before.state == Entry::Holds;
    resolution->cachedConfirmedAtMs = before.confirmedAtMs;
    if (!resolution->cached) {
        resolution->token = NeighbourBudget::instance().acquire(m_unresolvedLifetimeMs, stop);
        if (resolution->token == 0) {
            return nullptr;
        }
        // The wait for room is not the neighbour's time to answer.
        resolution->clock.restart();
        resolution->rounds = before.state == Entry::Resolving ? 1 : 0;
    }
    resolution->deadlineMs = m_retransmitMs + kAnswerMarginMs;
    return resolution;
}

ArpResolver::Outcome ArpResolver::poll(Resolution &resolution, bool echoAnswered, QByteArray *mac)
{
    if (resolution.failed) {
        return Outcome::Failed;
    }
    const qint64 now = resolution.clock.elapsed();
    const Entry entry = readEntry(*m_netlink, m_interfaceIndex, resolution.address, now);
    if (entry.state == Entry::Holds) {
        bool fresh = !resolution.cached || echoAnswered;
        if (!fresh) {
            // The kernel reports the confirmation's age in 10 ms ticks of a clock that itself
            // ticks every few ms: two reads of one confirmation may differ by more than a tick.
            fresh = entry.confirmedAtMs > resolution.cachedConfirmedAtMs + kConfirmationSlackMs
                || resolution.knockAnswered();
        }
        if (fresh) {
            *mac = entry.mac;
            NeighbourBudget::instance().release(resolution.token);
            resolution.token = 0;
            return Outcome::Answered;
        }
    }
    if (resolution.cached) {
        if (resolution.knockStream.get() < 0 && !resolution.knock()) {
            return Outcome::Failed;
        }
    } else if (entry.state == Entry::Resolving) {
        resolution.rounds = qMax(resolution.rounds, 1);
    } else if (entry.state != Entry::Holds && resolution.rounds * m_requestsPerRound < 2) {
        // Not asked yet, or the kernel's requests went unanswered: one more round, and time for
        // its answer, however late this look comes. A dropped broadcast or a host still booting
        // gets its second chance.
        if (!trigger(resolution.address)) {
            return Outcome::Failed;
        }
        const qint64 roundMs = resolution.rounds == 0 ? m_retransmitMs : 0;
        if (resolution.rounds > 0) {
            NeighbourBudget::instance().extend(resolution.token, m_unresolvedLifetimeMs);
        }
        resolution.deadlineMs = qMax(resolution.deadlineMs, now + roundMs + kAnswerMarginMs);
        ++resolution.rounds;
    }
    return now >= resolution.deadlineMs ? Outcome::Silent : Outcome::Pending;
}
