#include "arplink.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <ifaddrs.h>
#include <linux/capability.h>
#include <linux/filter.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

std::string systemError(const char *what)
{
    return std::string(what) + ": " + std::strerror(errno);
}

bool hasAddress(const std::string &interfaceName, std::uint32_t source)
{
    ifaddrs *list = nullptr;
    if (::getifaddrs(&list) != 0) {
        return false;
    }
    bool found = false;
    for (const ifaddrs *entry = list; entry && !found; entry = entry->ifa_next) {
        if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET || !entry->ifa_name) {
            continue;
        }
        // An address with a label of its own ("lan0:1") still belongs to lan0.
        const std::string name = entry->ifa_name;
        const bool ours = name == interfaceName
            || (name.size() > interfaceName.size()
                && name.compare(0, interfaceName.size(), interfaceName) == 0
                && name[interfaceName.size()] == ':');
        const auto *address = reinterpret_cast<const sockaddr_in *>(entry->ifa_addr);
        found = ours && ntohl(address->sin_addr.s_addr) == source;
    }
    ::freeifaddrs(list);
    return found;
}

// In the kernel, before a frame reaches the helper: Ethernet/IPv4 ARP requests and replies
// only, cut to the 42 bytes the helper reads. A jump skips that many instructions; every failed
// test lands on the last one.
constexpr sock_filter kArpOnly[] = {
    BPF_STMT(BPF_LD | BPF_W | BPF_LEN, 0),
    BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, ArpFrame::kLength, 0, 14),
    BPF_STMT(BPF_LD | BPF_H | BPF_ABS, 12),
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ETH_P_ARP, 0, 12),
    BPF_STMT(BPF_LD | BPF_H | BPF_ABS, 14),
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ARPHRD_ETHER, 0, 10),
    BPF_STMT(BPF_LD | BPF_H | BPF_ABS, 16),
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ETH_P_IP, 0, 8),
    BPF_STMT(BPF_LD | BPF_B | BPF_ABS, 18),
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ETH_ALEN, 0, 6),
    BPF_STMT(BPF_LD | BPF_B | BPF_ABS, 19),
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 4, 0, 4),
    BPF_STMT(BPF_LD | BPF_H | BPF_ABS, 20),
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ARPOP_REQUEST, 1, 0),
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ARPOP_REPLY, 0, 1),
    BPF_STMT(BPF_RET | BPF_K, ArpFrame::kLength),
    BPF_STMT(BPF_RET | BPF_K, 0),
};

} // namespace

namespace ArpLink {

bool isValidInterfaceName(std::string_view name)
{
    if (name.empty() || name.size() >= IFNAMSIZ || name.front() == '-' || name.front() == '.') {
        return false;
    }
    for (const char c : name) {
        const bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')
            || (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-';
        if (!allowed) {
            return false;
        }
    }
    return true;
}

Status open(const std::string &interfaceName, std::uint32_t source, Link *link, std::string *error)
{
    if (!isValidInterfaceName(interfaceName)) {
        *error = "not an interface name";
        return Status::Refused;
    }
    // The checks need no privilege, so that a caller without one learns what is wrong with its
    // arguments before it learns that the socket is out of reach.
    const FdHolder query(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (query.get() < 0) {
        *error = systemError("socket");
        return Status::Unavailable;
    }
    ifreq request {};
    std::memcpy(request.ifr_name, interfaceName.data(), interfaceName.size());
    if (::ioctl(query.get(), SIOCGIFINDEX, &request) != 0) {
        *error = "no interface " + interfaceName;
        return Status::Refused;
    }
    const int index = request.ifr_ifindex;
    if (::ioctl(query.get(), SIOCGIFFLAGS, &request) != 0) {
        *error = systemError("interface flags");
        return Status::Refused;
    }
    if (!(request.ifr_flags & IFF_UP) || (request.ifr_flags & (IFF_NOARP | IFF_LOOPBACK))) {
        *error = interfaceName + " is down or does not use ARP";
        return Status::Refused;
    }
    if (::ioctl(query.get(), SIOCGIFHWADDR, &request) != 0
        || request.ifr_hwaddr.sa_family != ARPHRD_ETHER) {
        *error = interfaceName + " is not an Ethernet interface";
        return Status::Refused;
    }
    std::memcpy(link->mac.data(), request.ifr_hwaddr.sa_data, link->mac.size());
    if (!hasAddress(interfaceName, source)) {
        *error = "the source address is not one of " + interfaceName + "'s";
        return Status::Refused;
    }

    // Protocol 0 receives nothing, so no frame is queued before the filter is in place.
    FdHolder packet(::socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (packet.get() < 0) {
        *error = systemError("packet socket (needs CAP_NET_RAW)");
        return Status::Unavailable;
    }
    const sock_fprog program { sizeof(kArpOnly) / sizeof(kArpOnly[0]),
                               const_cast<sock_filter *>(kArpOnly) };
    const int on = 1;
    if (::setsockopt(packet.get(), SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof(program)) != 0
        || ::setsockopt(packet.get(), SOL_SOCKET, SO_LOCK_FILTER, &on, sizeof(on)) != 0) {
        *error = systemError("socket filter");
        return Status::Unavailable;
    }
    // Our own requests would only be read back and thrown away; older kernels lack the option,
    // and the frame parser drops them anyway.
    ::setsockopt(packet.get(), SOL_PACKET, PACKET_IGNORE_OUTGOING, &on, sizeof(on));
    sockaddr_ll local {};
    local.sll_family = AF_PACKET;
    local.sll_protocol = htons(ETH_P_ARP);
    local.sll_ifindex = index;
    if (::bind(packet.get(), reinterpret_cast<sockaddr *>(&local), sizeof(local)) != 0) {
        *error = systemError("bind packet socket");
        return Status::Unavailable;
    }
    link->socket = std::move(packet);
    return Status::Ok;
}

bool dropPrivileges(std::string *error)
{
    __user_cap_header_struct header { _LINUX_CAPABILITY_VERSION_3, 0 };
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] {};
    if (::syscall(SYS_capset, &header, data) != 0) {
        *error = systemError("capset");
        return false;
    }
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) {
        *error = systemError("no_new_privs");
        return false;
    }
    // Trust, but verify: a capability left here would outlive every request.
    __user_cap_data_struct left[_LINUX_CAPABILITY_U32S_3] {};
    if (::syscall(SYS_capget, &header, left) != 0) {
        *error = systemError("capget");
        return false;
    }
    for (const __user_cap_data_struct &set : left) {
        if (set.effective || set.permitted || set.inheritable) {
            *error = "capabilities left after capset";
            return false;
        }
    }
    return true;
}

} // namespace ArpLink
