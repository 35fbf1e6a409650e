#ifndef ARPLINK_H
#define ARPLINK_H

#include "arpframe.h"
#include "platform/fdholder_linux.h"

#include <cstdint>
#include <string>
#include <string_view>

// The one privileged step of the ARP helper: a packet socket for ARP on one Ethernet interface,
// filtered in the kernel to IPv4 ARP, then every capability given up for good.
namespace ArpLink {

enum class Status {
    Ok,
    Refused, // the interface or the address is not one the helper may use
    Unavailable // the socket cannot be had here (no CAP_NET_RAW, ...)
};

struct Link
{
    FdHolder socket;
    ArpFrame::Mac mac {};
};

// Letters, digits, '.', '_' and '-', 1 to 15 of them, not starting with '-' or '.'.
bool isValidInterfaceName(std::string_view name);

// interfaceName must be an up Ethernet interface that ARP runs on, and source one of its IPv4
// addresses (host byte order).
Status open(const std::string &interfaceName, std::uint32_t source, Link *link, std::string *error);

// Empties the effective, permitted and inheritable sets and forbids gaining any again.
bool dropPrivileges(std::string *error);

} // namespace ArpLink

#endif // ARPLINK_H
