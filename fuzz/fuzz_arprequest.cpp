// What the ARP helper reads: request lines from whoever started it, and frames from any host of
// the link. The helper holds a packet socket, so a line it accepts must mean exactly one thing
// (it has one spelling, the one it is written back as) and never more than the bound of
// addresses; a frame yields a report only when it is an answer of another host, and then only
// that host's own addresses.
//
// Input: a first byte choosing what the rest is. 0: a request line. 1: a request made from the
// bytes, which, written out, must read back the same. 2: our MAC (6 bytes), then a frame.
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
    if (request->kind == Request::Kind::Rate) {
        FUZZ_CHECK(request->rate >= 1 && request->rate <= ArpRequest::kMaxRate, show(line));
    } else {
        FUZZ_CHECK(request->first <= request->last, show(line));
        FUZZ_CHECK(std::uint64_t(request->last - request->first) < ArpRequest::kMaxRangeSize,
                   show(line));
    }
}

// Every request within the bounds is accepted in its one spelling.
void checkWritten(const uint8_t *data, std::size_t size)
{
    if (size < 9) {
        return;
    }
    Request request;
    if (data[0] & 1) {
        request.kind = Request::Kind::Rate;
        request.rate = 1 + word(data + 1) % ArpRequest::kMaxRate;
    } else {
        request.first = word(data + 1);
        request.ranged = data[0] & 2;
        const std::uint32_t span = request.ranged ? word(data + 5) % ArpRequest::kMaxRangeSize : 0;
        request.last = request.first + std::min(span, ~request.first);
    }
    const std::string line = ArpRequest::format(request);
    const std::optional<Request> back = ArpRequest::parse(line);
    FUZZ_CHECK(back && back->kind == request.kind && back->first == request.first
                   && back->last == request.last && back->rate == request.rate,
               show(line));
}

void checkFrame(const uint8_t *data, std::size_t size)
{
    if (size < 6) {
        return;
    }
    ArpFrame::Mac own;
    std::memcpy(own.data(), data, own.size());
    // A buffer of exactly the frame's size, so that reading past it is caught.
    const std::vector<uint8_t> frame(data + 6, data + size);
    ArpFrame::Sender sender;
    const ArpFrame::Kind kind = ArpFrame::classify(frame.data(), frame.size(), own, &sender);
    if (kind == ArpFrame::Kind::Ignored) {
        return;
    }
    const QString what
        = QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(data), int(size)).toHex());
    const uint8_t *f = frame.data();
    FUZZ_CHECK(frame.size() >= ArpFrame::kLength, what);
    FUZZ_CHECK(f[12] == 0x08 && f[13] == 0x06 && f[20] == 0 && (f[21] == 1 || f[21] == 2), what);
    FUZZ_CHECK(std::memcmp(sender.mac.data(), f + 22, 6) == 0 && sender.address == word(f + 28),
               what);
    FUZZ_CHECK(sender.mac != own && sender.address != 0 && !(sender.mac[0] & 1), what);
    if (kind == ArpFrame::Kind::Reply) {
        FUZZ_CHECK(
            f[21] == 2
                && (std::memcmp(f, own.data(), 6) == 0 || std::memcmp(f + 32, own.data(), 6) == 0),
            what);
    } else {
        const uint8_t broadcast[6] = { 0xff, 0xff, 0xff, 0xff, 0xff, 0xff };
        FUZZ_CHECK(std::memcmp(f, broadcast, 6) == 0, what);
    }
}

// Our own request is never reported back to us, and another host's reads as heard.
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
    FUZZ_CHECK(ArpFrame::classify(frame.data(), frame.size(), own, &sender)
                   == ArpFrame::Kind::Ignored,
               what);
    ArpFrame::Mac other = own;
    other[5] ^= 1;
    const bool named = !(own[0] & 1) && own != ArpFrame::Mac {} && word(data + 6) != 0;
    FUZZ_CHECK(
        (ArpFrame::classify(frame.data(), frame.size(), other, &sender) == ArpFrame::Kind::Heard)
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
