#include "addressrange.h"

#include "base/ipv4text.h"

#include <algorithm>
#include <numeric>
#include <optional>

namespace AddressRange {

QVector<quint32> fromInterface(const QString &ipString, const QString &netmask)
{
    const std::optional<quint32> ip = Ipv4Text::parse(ipString);
    const std::optional<quint32> mask = Ipv4Text::parse(netmask);
    // A netmask is ones followed by zeros; anything else describes no subnet.
    if (!ip || !mask || (~*mask & (~*mask + 1)) != 0) {
        return {};
    }
    const quint32 network = *ip & *mask;
    const quint32 broadcast = network | ~*mask;
    if (broadcast - network < 2) {
        return {};
    }
    quint32 first = network + 1;
    const quint32 last = broadcast - 1;
    // A /16 has 65534 hosts and is swept whole; only wider subnets are cut to the window.
    const bool widerThan16 = broadcast - network > 0xffffu;
    if (widerThan16) {
        // The window keeps the interface's own neighbourhood, shifted to stay in the subnet.
        const quint32 half = kMaxAddresses / 2;
        first = std::clamp(*ip - std::min(*ip - first, half), first, last - (kMaxAddresses - 1));
    }
    const int count = int(widerThan16 ? kMaxAddresses : last - first + 1);
    QVector<quint32> addresses(count);
    std::iota(addresses.begin(), addresses.end(), first);
    return addresses;
}

} // namespace AddressRange
