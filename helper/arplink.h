#ifndef ARPLINK_H
#define ARPLINK_H

#include "arpframe.h"
#include "platform/linkwatch_linux.h"
#include "platform/fdholder_linux.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The helper's link: the packet socket, bound to one Ethernet interface and filtered in the
// kernel to IPv4 ARP, and what makes the helper entitled to speak on it: the interface (by index)
// up and running, with the MAC it had at the start, and the source address still one of its own.
// None of this needs a privilege; it runs after every capability is gone.
namespace ArpLink {

enum class Status {
    Ok,
    Refused, // the interface or the address is not one the helper may use
    Unavailable // the socket cannot be set up here
};

struct Link
{
    FdHolder socket;
    std::string name;
    int index = 0;
    ArpFrame::Mac mac {};
    std::uint32_t source = 0; // host byte order
};

// Letters, digits, '.', '_' and '-', 1 to 15 of them, not starting with '-' or '.'.
bool isValidInterfaceName(std::string_view name);

// Binds socket, a packet socket that receives nothing yet, to interfaceName, once that is an
// Ethernet interface that ARP runs on and source one of its IPv4 addresses.
Status open(FdHolder socket, const std::string &interfaceName, std::uint32_t source,
            LinkWatch *watch, Link *link, std::string *error);

// Why the helper may no longer speak for the link's address, or nothing while it may.
std::optional<std::string> lostBecause(const Link &link, LinkWatch *watch);

} // namespace ArpLink

#endif // ARPLINK_H
