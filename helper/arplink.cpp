#include "arplink.h"

#include "arprequest.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <linux/filter.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <sys/socket.h>

namespace {

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

std::string systemError(const char *what)
{
    return std::string(what) + ": " + std::strerror(errno);
}

// The filter first: protocol 0 has queued nothing yet, so no frame reaches the helper unfiltered.
bool attach(const FdHolder &socket, int index, std::string *error)
{
    const sock_fprog program { sizeof(kArpOnly) / sizeof(kArpOnly[0]),
                               const_cast<sock_filter *>(kArpOnly) };
    const int on = 1;
    if (::setsockopt(socket.get(), SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof(program)) != 0
        || ::setsockopt(socket.get(), SOL_SOCKET, SO_LOCK_FILTER, &on, sizeof(on)) != 0) {
        *error = systemError("socket filter");
        return false;
    }
    // Our own requests would only be read back and thrown away; older kernels lack the option,
    // and the frame parser drops them anyway.
    ::setsockopt(socket.get(), SOL_PACKET, PACKET_IGNORE_OUTGOING, &on, sizeof(on));
    sockaddr_ll local {};
    local.sll_family = AF_PACKET;
    local.sll_protocol = htons(ETH_P_ARP);
    local.sll_ifindex = index;
    if (::bind(socket.get(), reinterpret_cast<sockaddr *>(&local), sizeof(local)) != 0) {
        *error = systemError("bind packet socket");
        return false;
    }
    return true;
}

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

Status open(FdHolder socket, const std::string &interfaceName, std::uint32_t source,
            LinkWatch *watch, Link *link, std::string *error)
{
    if (!isValidInterfaceName(interfaceName)) {
        *error = "not an interface name";
        return Status::Refused;
    }
    if (!watch->isOpen()) {
        *error = systemError("netlink");
        return Status::Unavailable;
    }
    const std::optional<LinkWatch::Interface> found = watch->find(interfaceName);
    if (!found) {
        *error = "no interface " + interfaceName;
        return Status::Refused;
    }
    link->name = interfaceName;
    link->index = found->index;
    link->mac = found->mac;
    link->source = source;
    if (const std::optional<std::string> why = lostBecause(*link, watch)) {
        *error = *why;
        return Status::Refused;
    }
    if (!attach(socket, link->index, error)) {
        return Status::Unavailable;
    }
    link->socket = std::move(socket);
    return Status::Ok;
}

std::optional<std::string> lostBecause(const Link &link, LinkWatch *watch)
{
    const std::optional<LinkWatch::Interface> now = watch->find(link.index);
    if (!now) {
        return link.name + " is gone";
    }
    if ((now->flags & (IFF_UP | IFF_RUNNING)) != (IFF_UP | IFF_RUNNING)) {
        return link.name + " is down";
    }
    if (now->type != ARPHRD_ETHER || (now->flags & (IFF_NOARP | IFF_LOOPBACK))) {
        return link.name + " is not an Ethernet interface that uses ARP";
    }
    if (now->mac != link.mac) {
        return link.name + "'s MAC address changed";
    }
    const std::optional<bool> owned = watch->hasAddress(link.index, link.source);
    if (!owned) {
        return "the addresses of " + link.name + " cannot be read";
    }
    if (!*owned) {
        return ArpRequest::formatIpv4(link.source) + " is not an address of " + link.name;
    }
    return std::nullopt;
}

} // namespace ArpLink
