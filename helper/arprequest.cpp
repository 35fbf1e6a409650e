#include "arprequest.h"

namespace {

// A decimal number of at most maxDigits digits without leading zeros, or nothing.
std::optional<std::uint32_t> parseNumber(std::string_view text, std::size_t maxDigits)
{
    if (text.empty() || text.size() > maxDigits || (text.size() > 1 && text.front() == '0')) {
        return std::nullopt;
    }
    std::uint32_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + std::uint32_t(c - '0');
    }
    return value;
}

bool startsWith(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

} // namespace

namespace ArpRequest {

std::optional<std::uint32_t> parseIpv4(std::string_view text)
{
    std::uint32_t address = 0;
    for (int group = 0; group < 4; ++group) {
        const std::size_t dot = group < 3 ? text.find('.') : text.size();
        if (dot == std::string_view::npos) {
            return std::nullopt;
        }
        const std::optional<std::uint32_t> value = parseNumber(text.substr(0, dot), 3);
        if (!value || *value > 255) {
            return std::nullopt;
        }
        address = address << 8 | *value;
        text.remove_prefix(group < 3 ? dot + 1 : dot);
    }
    return address;
}

std::string formatIpv4(std::uint32_t address)
{
    return std::to_string(address >> 24) + '.' + std::to_string(address >> 16 & 0xff) + '.'
        + std::to_string(address >> 8 & 0xff) + '.' + std::to_string(address & 0xff);
}

std::optional<Request> parse(std::string_view line)
{
    if (line.size() >= kMaxLineLength) {
        return std::nullopt;
    }
    if (!startsWith(line, "send ")) {
        return std::nullopt;
    }
    line.remove_prefix(5);
    const std::size_t dash = line.find('-');
    const std::optional<std::uint32_t> first = parseIpv4(line.substr(0, dash));
    const std::optional<std::uint32_t> last
        = dash == std::string_view::npos ? first : parseIpv4(line.substr(dash + 1));
    if (!first || !last || *last < *first || std::uint64_t(*last - *first) + 1 > kMaxRangeSize) {
        return std::nullopt;
    }
    return Request { *first, *last, dash != std::string_view::npos };
}

std::string format(const Request &request)
{
    std::string line = "send " + formatIpv4(request.first);
    if (request.ranged) {
        line += '-' + formatIpv4(request.last);
    }
    return line;
}

} // namespace ArpRequest
