#ifndef ARPFRAME_H
#define ARPFRAME_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

// Ethernet frames of IPv4 ARP as the helper sends and reads them. Reading takes any bytes: what
// arrives on the link comes from hosts nobody vouches for, so only a well-formed Ethernet/IPv4
// ARP frame of another host, broadcast or addressed to us, yields anything, and then only the
// sender's two addresses.
namespace ArpFrame {

constexpr std::size_t kLength = 42; // Ethernet header and ARP body, without padding
using Mac = std::array<std::uint8_t, 6>;

enum class Kind {
    Ignored,
    Reply, // a reply to our MAC and our source address: an answer if we asked its sender
    Heard // any other frame of another host: a request, an announcement, a probe, a reply
};

struct Sender
{
    std::uint32_t address = 0; // host byte order
    Mac mac {};
};

// A broadcast "who has target, tell source" from own.
std::array<std::uint8_t, kLength> request(const Mac &own, std::uint32_t source,
                                          std::uint32_t target);
// What the frame is to the helper whose interface has own and whose source address is source;
// for Reply and Heard, *sender holds the sender's MAC and address. A probe's sender has no
// address yet (0.0.0.0): its address is then the one it claims, the probe's target.
Kind classify(const std::uint8_t *frame, std::size_t length, const Mac &own, std::uint32_t source,
              Sender *sender);

// Six upper-case hex pairs joined by '-'.
std::string formatMac(const Mac &mac);

} // namespace ArpFrame

#endif // ARPFRAME_H
