#include "linkwatch_linux.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <linux/if_addr.h>
#include <linux/if_link.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>

namespace {

constexpr std::size_t kNoticeBuffer = 8192;

FdHolder openNoticeSocket()
{
    FdHolder socket(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE));
    sockaddr_nl groups {};
    groups.nl_family = AF_NETLINK;
    groups.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR;
    if (socket.get() >= 0
        && ::bind(socket.get(), reinterpret_cast<sockaddr *>(&groups), sizeof(groups)) != 0) {
        return FdHolder();
    }
    return socket;
}

// The interface index a link or address notice is about; 0 for other messages.
int subjectOf(const nlmsghdr *message)
{
    switch (message->nlmsg_type) {
    case RTM_NEWLINK:
    case RTM_DELLINK:
        if (message->nlmsg_len >= NLMSG_LENGTH(sizeof(ifinfomsg))) {
            return static_cast<const ifinfomsg *>(NLMSG_DATA(message))->ifi_index;
        }
        break;
    case RTM_NEWADDR:
    case RTM_DELADDR:
        if (message->nlmsg_len >= NLMSG_LENGTH(sizeof(ifaddrmsg))) {
            return int(static_cast<const ifaddrmsg *>(NLMSG_DATA(message))->ifa_index);
        }
        break;
    default:
        break;
    }
    return 0;
}

} // namespace

LinkWatch::LinkWatch() : m_notices(openNoticeSocket()) { }

template<typename Match>
std::optional<LinkWatch::Interface> LinkWatch::findWhere(const Match &match)
{
    const ifinfomsg header {};
    std::optional<Interface> found;
    const LinuxNetlink::Result result = m_query.dump(
        RTM_GETLINK, &header, sizeof(header), [&match, &found](const nlmsghdr *message) {
            if (message->nlmsg_type != RTM_NEWLINK
                || message->nlmsg_len < NLMSG_LENGTH(sizeof(ifinfomsg))) {
                return true;
            }
            const auto *info = static_cast<const ifinfomsg *>(NLMSG_DATA(message));
            Interface link { info->ifi_index, info->ifi_flags, info->ifi_type, {} };
            std::string name;
            int length = int(IFLA_PAYLOAD(message));
            for (const rtattr *attribute = IFLA_RTA(info); RTA_OK(attribute, length);
                 attribute = RTA_NEXT(attribute, length)) {
                const auto *data = static_cast<const char *>(RTA_DATA(attribute));
                if (attribute->rta_type == IFLA_IFNAME) {
                    name.assign(data, ::strnlen(data, RTA_PAYLOAD(attribute)));
                } else if (attribute->rta_type == IFLA_ADDRESS
                           && RTA_PAYLOAD(attribute) == link.mac.size()) {
                    std::memcpy(link.mac.data(), data, link.mac.size());
                }
            }
            if (match(link, name)) {
                found = link;
            }
            return true;
        });
    return result == LinuxNetlink::Result::Read ? found : std::nullopt;
}

std::optional<LinkWatch::Interface> LinkWatch::find(const std::string &name)
{
    return findWhere(
        [&name](const Interface &, const std::string &linkName) { return linkName == name; });
}

std::optional<LinkWatch::Interface> LinkWatch::find(int index)
{
    return findWhere(
        [index](const Interface &link, const std::string &) { return link.index == index; });
}

std::optional<bool> LinkWatch::hasAddress(int index, std::uint32_t address)
{
    const std::optional<std::vector<std::uint32_t>> addresses = addressesOf(index);
    if (!addresses) {
        return std::nullopt;
    }
    return std::find(addresses->cbegin(), addresses->cend(), address) != addresses->cend();
}

std::optional<std::vector<std::uint32_t>> LinkWatch::addressesOf(int index)
{
    ifaddrmsg header {};
    header.ifa_family = AF_INET;
    std::vector<std::uint32_t> found;
    const LinuxNetlink::Result result = m_query.dump(
        RTM_GETADDR, &header, sizeof(header), [index, &found](const nlmsghdr *message) {
            if (message->nlmsg_type != RTM_NEWADDR
                || message->nlmsg_len < NLMSG_LENGTH(sizeof(ifaddrmsg))) {
                return true;
            }
            const auto *info = static_cast<const ifaddrmsg *>(NLMSG_DATA(message));
            if (info->ifa_family != AF_INET || int(info->ifa_index) != index) {
                return true;
            }
            int length = int(IFA_PAYLOAD(message));
            // IFA_LOCAL is the interface's own address (IFA_ADDRESS is the peer's on a
            // point-to-point link).
            for (const rtattr *attribute = IFA_RTA(info); RTA_OK(attribute, length);
                 attribute = RTA_NEXT(attribute, length)) {
                std::uint32_t local = 0;
                if (attribute->rta_type == IFA_LOCAL && RTA_PAYLOAD(attribute) == sizeof(local)) {
                    std::memcpy(&local, RTA_DATA(attribute), sizeof(local));
                    found.push_back(ntohl(local));
                }
            }
            return true;
        });
    return result == LinuxNetlink::Result::Read ? std::optional(found) : std::nullopt;
}

bool LinkWatch::takeNotices(int index)
{
    bool concerned = false;
    alignas(nlmsghdr) char buffer[kNoticeBuffer];
    for (;;) {
        const ssize_t length = ::recv(m_notices.get(), buffer, sizeof(buffer), MSG_DONTWAIT);
        if (length < 0 && errno == EINTR) {
            continue;
        }
        if (length < 0 && errno == ENOBUFS) {
            concerned = true; // the kernel dropped notices it could not queue: any may be ours
            continue;
        }
        if (length <= 0) {
            // Nothing more waits; any other failure makes the caller ask the kernel itself.
            return concerned || (length < 0 && errno != EAGAIN);
        }
        int remaining = int(length);
        for (auto *message = reinterpret_cast<nlmsghdr *>(buffer); NLMSG_OK(message, remaining);
             message = NLMSG_NEXT(message, remaining)) {
            concerned = concerned || subjectOf(message) == index;
        }
    }
}
