#include "addressrange.h"

#include "base/ipv4text.h"

#include <QStringList>

#include <numeric>
#include <optional>

namespace AddressRange {

namespace {

struct Subnet
{
    quint32 network = 0;
    int prefix = 0;
};

std::optional<Subnet> sweptOf(const QString &ipString, const QString &netmask)
{
    const std::optional<quint32> ip = Ipv4Text::parse(ipString);
    const std::optional<quint32> mask = Ipv4Text::parse(netmask);
    // A netmask is ones followed by zeros; anything else describes no subnet.
    if (!ip || !mask || (~*mask & (~*mask + 1)) != 0) {
        return std::nullopt;
    }
    int prefix = 0;
    for (quint32 bits = *mask; bits & 0x80000000u; bits <<= 1) {
        ++prefix;
    }
    // A /31 or /32 has no host to sweep.
    if (prefix > 30) {
        return std::nullopt;
    }
    prefix = std::max(prefix, kWidestPrefix);
    return Subnet { *ip & (~quint32(0) << (32 - prefix)), prefix };
}

} // namespace

QVector<quint32> fromInterface(const QString &ipString, const QString &netmask)
{
    const std::optional<Subnet> subnet = sweptOf(ipString, netmask);
    if (!subnet) {
        return {};
    }
    const quint32 hosts = (quint32(1) << (32 - subnet->prefix)) - 2;
    QVector<quint32> addresses(static_cast<int>(hosts));
    std::iota(addresses.begin(), addresses.end(), subnet->network + 1);
    return addresses;
}

NamedRange readRange(const QString &cidr)
{
    NamedRange range;
    const QStringList parts = cidr.split(QLatin1Char('/'));
    bool ok = false;
    range.prefix = parts.size() == 2 ? parts.at(1).toInt(&ok) : -1;
    const std::optional<quint32> address
        = parts.isEmpty() ? std::nullopt : Ipv4Text::parse(parts.at(0));
    // Digits only: no sign, no leading zero, no blank.
    if (!ok || !address || range.prefix < 0 || range.prefix > 32
        || parts.at(1) != QString::number(range.prefix)) {
        return range;
    }
    range.network = range.prefix == 0 ? 0 : *address & (~quint32(0) << (32 - range.prefix));
    if (range.prefix < kWidestPrefix) {
        range.problem = NamedRange::Problem::TooWide;
    } else if (range.network != *address) {
        range.problem = NamedRange::Problem::HostBitsSet;
    } else {
        range.problem = NamedRange::Problem::None;
    }
    return range;
}

QString NamedRange::text() const
{
    return QStringLiteral("%1/%2").arg(Ipv4Text::format(network)).arg(prefix);
}

QVector<quint32> fromRange(const QString &cidr)
{
    const NamedRange range = readRange(cidr);
    if (range.problem != NamedRange::Problem::None) {
        return {};
    }
    const quint32 size = range.prefix == 32 ? 1 : quint32(1) << (32 - range.prefix);
    const quint32 skip = size > 2 ? 1 : 0;
    QVector<quint32> addresses(static_cast<int>(size - 2 * skip));
    std::iota(addresses.begin(), addresses.end(), range.network + skip);
    return addresses;
}

QString sweptSubnet(const QString &ipString, const QString &netmask)
{
    const std::optional<Subnet> subnet = sweptOf(ipString, netmask);
    return subnet
        ? QStringLiteral("%1/%2").arg(Ipv4Text::format(subnet->network)).arg(subnet->prefix)
        : QString();
}

} // namespace AddressRange
