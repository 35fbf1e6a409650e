#include "neighbourtable.h"

#include "fdholder_linux.h"
#include "interfacebinding_linux.h"
#include "netlink_linux.h"

#include <QFile>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <linux/neighbour.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Nobody listens there; a host answers a datagram to it, if at all, with a port-unreachable.
constexpr quint16 kDiscardPort = 9;
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

} // namespace

NeighbourTable::NeighbourTable(int interfaceIndex)
    : m_netlink(new LinuxNetlink)
    , m_interfaceIndex(interfaceIndex)
    , m_retransmitMs(readNumber(neighbourSetting(interfaceIndex, "retrans_time_ms"), 1000))
    , m_requestsPerRound(int(readNumber(neighbourSetting(interfaceIndex, "mcast_solicit"), 3)
                             + readNumber(neighbourSetting(interfaceIndex, "app_solicit"), 0)))
{
}

NeighbourTable::~NeighbourTable() = default;

bool NeighbourTable::isOpen() const
{
    return m_netlink->isOpen();
}

NeighbourTable::Entry NeighbourTable::read(quint32 address)
{
    ndmsg request {};
    request.ndm_family = AF_INET;
    request.ndm_ifindex = m_interfaceIndex;
    Entry entry;
    static const long ticksPerSecond = ::sysconf(_SC_CLK_TCK);
    const LinuxNetlink::Result result = m_netlink->get(
        RTM_GETNEIGH, &request, sizeof(request), NDA_DST, htonl(address),
        [&](const nlmsghdr *message) {
            const auto *answer = static_cast<const ndmsg *>(NLMSG_DATA(message));
            int length = int(message->nlmsg_len - NLMSG_LENGTH(sizeof(ndmsg)));
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
                    entry.confirmedAgeMs
                        = qint64(info.ndm_confirmed) * 1000 / qMax(1L, ticksPerSecond);
                }
            }
            if ((answer->ndm_state & kHoldsAddress) && entry.mac.size() == 6) {
                entry.state = Entry::State::Holds;
            } else if (answer->ndm_state & NUD_INCOMPLETE) {
                entry.state = Entry::State::Resolving;
            } else {
                entry.state = Entry::State::Failed;
            }
            return true;
        });
    if (result == LinuxNetlink::Result::Failed) {
        entry.state = Entry::State::Unknown;
    }
    return entry;
}

bool NeighbourTable::trigger(quint32 address, int interfaceIndex)
{
    const FdHolder udp(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (udp.get() < 0 || !bindToInterface(udp.get(), interfaceIndex)) {
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
