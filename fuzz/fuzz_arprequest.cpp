// What the ARP helper reads: request lines from whoever started it, and frames from any host of
// the link. The helper holds a packet socket, so a line it accepts must mean exactly one thing
// (it has one spelling, the one it is written back as) and never more than the bound of
// addresses; a frame yields a report only when it is another host's, broadcast or to us, and
// then only that host's own addresses (or, for a probe, the one it claims); it is a reply to us
// only when it names our MAC and our source address.
//
// Input: a first byte choosing what the rest is. 0: a request line. 1: a request made from the
// bytes, which, written out, must read back the same. 2: our MAC (6 bytes) and source address
// (4 bytes), then a frame.
#include "fuzzcheck.h"
#include "helper/arpframe.h"
#include "helper/arprequest.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

using ArpRequest::Request;

QString show(const std::string &text)
{
    return QString::fromLatin1(QByteArray::fromStdString(text).toPercentEncoding(" .-"));
}

std::uint32_t word(const uint8_t *data)
{
    return std::uint32_t(data[0]) << 24 | std::uint32_t(data[1]) << 16 | std::uint32_t(data[2]) << 8
        | data[3];
}

void checkLine(const std::string &line)
{
    const std::optional<Request> request = ArpRequest::parse(line);
    if (!request) {
        return;
    }
    FUZZ_CHECK(ArpRequest::format(*request) == line, show(line));
    FUZZ_CHECK(line.size() < ArpRequest::kMaxLineLength, show(line));
    FUZZ_CHECK(request->first <= request->last, show(line));
    FUZZ_CHECK(std::uint64_t(request->last - request->first) < ArpRequest::kMaxRangeSize,
               show(line));
}

// Every request within the bounds is accepted in its one spelling.
void checkWritten(const uint8_t *data, std::size_t size)
{
    if (size < 9) {
        return;
    }
    Request request;
    request.first = word(data + 1);
    request.ranged = data[0] & 2;
    const std::uint32_t span = request.ranged ? word(data + 5) % ArpRequest::kMaxRangeSize : 0;
    request.last = request.first + std::min(span, ~request.first);
    const std::string line = ArpRequest::format(request);
    const std::optional<Request> back = ArpRequest::parse(line);
    FUZZ_CHECK(back && back->first == request.first && back->last == request.last, show(line));
}

void checkFrame(const uint8_t *data, std::size_t size)
{
    if (size < 10) {
        return;
    }
    ArpFrame::Mac own;
    std::memcpy(own.data(), data, own.size());
    const std::uint32_t source = word(data + 6);
    // A buffer of exactly the frame's size, so that reading past it is caught.
    const std::vector<uint8_t> frame(data + 10, data + size);
    ArpFrame::Sender sender;
    const ArpFrame::Kind kind
        = ArpFrame::classify(frame.data(), frame.size(), own, source, &sender);
    if (kind == ArpFrame::Kind::Ignored) {
        return;
    }
    const QString what
        = QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(data), int(size)).toHex());
    const uint8_t *f = frame.data();
    const uint8_t broadcast[6] = { 0xff, 0xff, 0xff, 0xff, 0xff, 0xff };
    const bool toUs = std::memcmp(f, own.data(), 6) == 0;
    FUZZ_CHECK(frame.size() >= ArpFrame::kLength, what);
    FUZZ_CHECK(f[12] == 0x08 && f[13] == 0x06 && f[20] == 0 && (f[21] == 1 || f[21] == 2), what);
    FUZZ_CHECK(toUs || std::memcmp(f, broadcast, 6) == 0, what);
    FUZZ_CHECK(std::memcmp(sender.mac.data(), f + 22, 6) == 0
                   && sender.address == (word(f + 28) ? word(f + 28) : word(f + 38)),
               what);
    FUZZ_CHECK(sender.mac != own && sender.address != 0 && !(sender.mac[0] & 1), what);
    if (kind == ArpFrame::Kind::Reply) {
        FUZZ_CHECK(f[21] == 2 && word(f + 38) == source && word(f + 28) != 0
                       && (toUs || std::memcmp(f + 32, own.data(), 6) == 0),
                   what);
    }
}

// Our own request is never reported back to us, and another host's reads as heard: as its
// sender's address, or as the one a probe claims.
void checkRequest(const uint8_t *data, std::size_t size)
{
    if (size < 14) {
        return;
    }
    ArpFrame::Mac own;
    std::memcpy(own.data(), data, own.size());
    const auto frame = ArpFrame::request(own, word(data + 6), word(data + 10));
    ArpFrame::Sender sender;
    const QString what
        = QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(data), 14).toHex());
    FUZZ_CHECK(ArpFrame::classify(frame.data(), frame.size(), own, word(data + 6), &sender)
                   == ArpFrame::Kind::Ignored,
               what);
    ArpFrame::Mac other = own;
    other[5] ^= 1;
    const bool named
        = !(own[0] & 1) && own != ArpFrame::Mac {} && (word(data + 6) != 0 || word(data + 10) != 0);
    FUZZ_CHECK((ArpFrame::classify(frame.data(), frame.size(), other, word(data + 6), &sender)
                == ArpFrame::Kind::Heard)
                   == named,
               what);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0) {
        return 0;
    }
    switch (data[0] % 3) {
    case 0:
        checkLine(std::string(reinterpret_cast<const char *>(data + 1), size - 1));
        break;
    case 1:
        checkWritten(data + 1, size - 1);
        break;
    default:
        checkFrame(data + 1, size - 1);
        checkRequest(data + 1, size - 1);
        break;
    }
    return 0;
}
