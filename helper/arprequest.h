#ifndef ARPREQUEST_H
#define ARPREQUEST_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The request lines the ARP helper reads from whoever started it, and the dotted-quad address
// text it reads and writes. Whoever holds the other end of the pipe is not trusted: a line is
// either exactly one of the forms below or refused, so that a line the helper accepts means one
// thing only.
//
//   send A.B.C.D            one ARP request to that address
//   send A.B.C.D-E.F.G.H    one to each address of the inclusive, ascending range
//
// Addresses are four groups of decimal digits, 0..255, without leading zeros, so that every
// accepted line has exactly one spelling (the one format() gives back).
namespace ArpRequest {

// A line with its terminating LF.
constexpr std::size_t kMaxLineLength = 64;
// The widest range one line may ask for, a /16.
constexpr std::uint64_t kMaxRangeSize = 65536;

struct Request
{
    std::uint32_t first = 0; // host byte order
    std::uint32_t last = 0; // == first for a single address
    bool ranged = false; // written as A-B, even when A == B
};

// line without its LF; nothing when it is not one of the forms above.
std::optional<Request> parse(std::string_view line);
std::string format(const Request &request);

std::optional<std::uint32_t> parseIpv4(std::string_view text);
std::string formatIpv4(std::uint32_t address);

} // namespace ArpRequest

#endif // ARPREQUEST_H
