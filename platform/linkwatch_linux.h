#ifndef LINKWATCH_LINUX_H
#define LINKWATCH_LINUX_H

#include "platform/fdholder_linux.h"
#include "platform/netlink_linux.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// What the kernel says of one interface (the ARP helper's, a watch's) over rtnetlink, always by
// interface index: its state and IPv4 addresses when asked, and notice of every change to links and
// addresses as the kernel makes it. A label ("lan0:1") or a name is never taken for ownership.
class LinkWatch
{
public:
    struct Interface
    {
        int index = 0;
        unsigned flags = 0; // IFF_*
        unsigned short type = 0; // ARPHRD_*
        std::array<std::uint8_t, 6> mac {};
    };

    LinkWatch();
    bool isOpen() const { return m_query.isOpen() && m_notices.get() >= 0; }

    // Nothing when there is no such interface, or the kernel could not be asked.
    std::optional<Interface> find(const std::string &name);
    std::optional<Interface> find(int index);
    // Whether address (host byte order) is assigned to the interface; nothing when the kernel
    // could not be asked.
    std::optional<bool> hasAddress(int index, std::uint32_t address);
    // The interface's IPv4 addresses (host byte order); nothing when the kernel could not be
    // asked.
    std::optional<std::vector<std::uint32_t>> addressesOf(int index);

    // Readable when notices wait.
    int noticeSocket() const { return m_notices.get(); }
    // Reads every waiting notice: true when one was about the interface, or some were lost.
    bool takeNotices(int index);

private:
    // The interface the reader accepts, from one dump of every link.
    template<typename Match> std::optional<Interface> findWhere(const Match &match);

    LinuxNetlink m_query;
    FdHolder m_notices;
};

#endif // LINKWATCH_LINUX_H
