// The addresses a sweep visits, from an interface address and netmask text. Every address on
// the list gets ARP, ICMP and HTTP, so the list must stay inside the subnet, hold only its host
// addresses, each once, and stay within what a worker pool can finish.
//
// Input: the address text, a NUL, the netmask text.
#include "controller/addressrange.h"
#include "base/ipv4text.h"
#include "fuzzcheck.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), static_cast<int>(size));
    const int split = input.indexOf('\0');
    const QString ipText = QString::fromLatin1(split < 0 ? input : input.left(split));
    const QString maskText = split < 0 ? QString() : QString::fromLatin1(input.mid(split + 1));
    const QString what = ipText + QLatin1Char('/') + maskText;

    const QVector<quint32> range = AddressRange::fromInterface(ipText, maskText);
    const std::optional<quint32> ip = Ipv4Text::parse(ipText);
    const std::optional<quint32> mask = Ipv4Text::parse(maskText);
    if (!ip || !mask || (~*mask & (~*mask + 1)) != 0) {
        FUZZ_CHECK(range.isEmpty(), what); // no subnet, nothing to sweep
        return 0;
    }
    const quint32 network = *ip & *mask;
    const quint64 hosts = quint64(~*mask) + 1 >= 2 ? quint64(~*mask) - 1 : 0;
    // Every host address of a /16 or narrower; of anything wider, the interface's own /16.
    const quint64 expected = hosts > 65534 ? 65534 : hosts;
    FUZZ_CHECK(quint64(range.size()) == expected, what);
    if (range.isEmpty()) {
        return 0;
    }
    // Consecutive and ascending: each address once, none skipped inside the range.
    FUZZ_CHECK(range.last() - range.first() == quint32(range.size() - 1), what);
    FUZZ_CHECK(range.first() > network && range.last() < (network | ~*mask), what);
    FUZZ_CHECK((range.first() & *mask) == network, what);
    FUZZ_CHECK(*ip < range.first() || *ip > range.last() || range.contains(*ip), what);
    // The interface's own neighbourhood is swept: its /16 at least.
    FUZZ_CHECK(hosts > 65534 ? (range.first() >> 16) == (*ip >> 16)
                             : *ip == network || *ip == (network | ~*mask) || range.contains(*ip),
               what);
    return 0;
}
