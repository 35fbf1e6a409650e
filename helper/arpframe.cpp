#include "arpframe.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr ArpFrame::Mac kBroadcast { 0xff, 0xff, 0xff, 0xff, 0xff, 0xff };
constexpr std::uint16_t kEtherTypeArp = 0x0806;
constexpr std::uint16_t kEtherTypeIpv4 = 0x0800;
constexpr std::uint16_t kHardwareEthernet = 1;
constexpr std::uint16_t kOpRequest = 1;
constexpr std::uint16_t kOpReply = 2;

// Offsets into the frame.
constexpr std::size_t kDestination = 0;
constexpr std::size_t kSource = 6;
constexpr std::size_t kEtherType = 12;
constexpr std::size_t kHardwareType = 14;
constexpr std::size_t kProtocolType = 16;
constexpr std::size_t kHardwareSize = 18;
constexpr std::size_t kProtocolSize = 19;
constexpr std::size_t kOp = 20;
constexpr std::size_t kSenderMac = 22;
constexpr std::size_t kSenderAddress = 28;
constexpr std::size_t kTargetMac = 32;
constexpr std::size_t kTargetAddress = 38;

void put16(std::uint8_t *at, std::uint16_t value)
{
    at[0] = std::uint8_t(value >> 8);
    at[1] = std::uint8_t(value);
}

void put32(std::uint8_t *at, std::uint32_t value)
{
    put16(at, std::uint16_t(value >> 16));
    put16(at + 2, std::uint16_t(value));
}

std::uint16_t get16(const std::uint8_t *at)
{
    return std::uint16_t(at[0] << 8 | at[1]);
}

std::uint32_t get32(const std::uint8_t *at)
{
    return std::uint32_t(get16(at)) << 16 | get16(at + 2);
}

bool sameMac(const std::uint8_t *at, const ArpFrame::Mac &mac)
{
    return std::memcmp(at, mac.data(), mac.size()) == 0;
}

} // namespace

namespace ArpFrame {

std::array<std::uint8_t, kLength> request(const Mac &own, std::uint32_t source,
                                          std::uint32_t target)
{
    std::array<std::uint8_t, kLength> frame {};
    std::copy(kBroadcast.begin(), kBroadcast.end(), frame.begin() + kDestination);
    std::copy(own.begin(), own.end(), frame.begin() + kSource);
    put16(&frame[kEtherType], kEtherTypeArp);
    put16(&frame[kHardwareType], kHardwareEthernet);
    put16(&frame[kProtocolType], kEtherTypeIpv4);
    frame[kHardwareSize] = 6;
    frame[kProtocolSize] = 4;
    put16(&frame[kOp], kOpRequest);
    std::copy(own.begin(), own.end(), frame.begin() + kSenderMac);
    put32(&frame[kSenderAddress], source);
    put32(&frame[kTargetAddress], target); // target MAC stays zero: unknown
    return frame;
}

Kind classify(const std::uint8_t *frame, std::size_t length, const Mac &own, std::uint32_t source,
              Sender *sender)
{
    if (length < kLength || get16(frame + kEtherType) != kEtherTypeArp
        || get16(frame + kHardwareType) != kHardwareEthernet
        || get16(frame + kProtocolType) != kEtherTypeIpv4 || frame[kHardwareSize] != 6
        || frame[kProtocolSize] != 4) {
        return Kind::Ignored;
    }
    const std::uint16_t op = get16(frame + kOp);
    const std::uint8_t *senderMac = frame + kSenderMac;
    const std::uint32_t target = get32(frame + kTargetAddress);
    // A probe claims its target; anything else names its sender.
    const std::uint32_t address
        = get32(frame + kSenderAddress) ? get32(frame + kSenderAddress) : target;
    // Our own requests, and senders no host can be: a group or zero MAC, or no address at all.
    const bool zeroMac = std::all_of(senderMac, senderMac + 6, [](std::uint8_t b) { return !b; });
    const bool toUs = sameMac(frame + kDestination, own);
    if ((op != kOpRequest && op != kOpReply) || sameMac(senderMac, own) || (senderMac[0] & 1)
        || zeroMac || address == 0 || !(toUs || sameMac(frame + kDestination, kBroadcast))) {
        return Kind::Ignored;
    }
    sender->address = address;
    std::copy(senderMac, senderMac + 6, sender->mac.begin());
    const bool answersUs = op == kOpReply && target == source
        && (toUs || sameMac(frame + kTargetMac, own)) && get32(frame + kSenderAddress) != 0;
    return answersUs ? Kind::Reply : Kind::Heard;
}

std::string formatMac(const Mac &mac)
{
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (std::size_t i = 0; i < mac.size(); ++i) {
        if (i > 0) {
            text += '-';
        }
        text += kDigits[mac[i] >> 4];
        text += kDigits[mac[i] & 0xf];
    }
    return text;
}

} // namespace ArpFrame
