// The address range a sweep visits, from an interface address and netmask text. The sweep
// sends ARP, ICMP and HTTP to every address on the list, so the list must stay inside the
// interface's network and within the size a worker pool can finish.
//
// Input: the address text and the netmask text, separated by the first NUL byte (an input
// without one is the address alone, with an empty netmask).
#include "controller/addressrange.h"
#include "fuzzcheck.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstddef>
#include <cstdint>

namespace {

// The widest range: 256 blocks of 254 addresses, the interface's /16 without .0 and .255.
constexpr int kMaxAddresses = 65024;

// A strict dotted quad: four decimal octets without signs, blanks or leading zeros, the only
// form the interface inventory produces.
bool parseDottedQuad(const QString &text, quint32 *address)
{
    // By hand rather than split() and toUInt(): the check runs on up to 65024 entries per
    // input, and the fuzzer's speed is its coverage.
    quint32 value = 0;
    int parts = 0;
    int digits = 0;
    uint octet = 0;
    bool leadingZero = false;
    for (int i = 0; i <= text.size(); ++i) {
        const ushort c = i < text.size() ? text.at(i).unicode() : '.';
        if (c == '.') {
            if (digits == 0 || (leadingZero && digits > 1) || octet > 255 || ++parts > 4) {
                return false;
            }
            value = (value << 8) | octet;
            digits = 0;
            octet = 0;
        } else if (c >= '0' && c <= '9') {
            leadingZero = digits == 0 ? c == '0' : leadingZero;
            if (++digits > 3) {
                return false;
            }
            octet = octet * 10 + (c - '0');
        } else {
            return false;
        }
    }
    *address = value;
    return parts == 4;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), static_cast<int>(size));
    const int split = input.indexOf('\0');
    const QString ipText = QString::fromLatin1(split < 0 ? input : input.left(split));
    const QString maskText = split < 0 ? QString() : QString::fromLatin1(input.mid(split + 1));

    int total = -1;
    const QStringList list = AddressRange::fromInterface(ipText, maskText, &total);
    FUZZ_CHECK(list.size() <= kMaxAddresses, ipText + QLatin1Char('/') + maskText);
    // The progress bar divides by the total: a list it does not describe gives wrong figures.
    FUZZ_CHECK(list.isEmpty() || list.size() == total, ipText + QLatin1Char('/') + maskText);

    quint32 ip = 0;
    if (!parseDottedQuad(ipText, &ip)) {
        return 0;
    }
    quint32 previous = 0;
    for (const QString &entry : list) {
        quint32 address = 0;
        FUZZ_CHECK(parseDottedQuad(entry, &address), entry);
        // Never outside the interface's /16, whatever the mask claims.
        FUZZ_CHECK((address >> 16) == (ip >> 16), entry + QLatin1String(" from ") + ipText);
        // Each block's network and broadcast address stay out.
        const quint32 fourth = address & 0xff;
        FUZZ_CHECK(fourth != 0 && fourth != 255, entry);
        // Ascending and so without repeats: every address is visited once.
        FUZZ_CHECK(address > previous, entry);
        previous = address;
    }

    quint32 mask = 0;
    if (parseDottedQuad(maskText, &mask) && mask >= 0xffff0000u && ((~mask + 1) & ~mask) == 0) {
        // A real netmask of /16 or longer: every address lies in the interface's own subnet.
        for (const QString &entry : list) {
            quint32 address = 0;
            parseDottedQuad(entry, &address);
            FUZZ_CHECK((address & mask) == (ip & mask),
                       entry + QLatin1String(" outside ") + ipText + QLatin1Char('/') + maskText);
        }
    }
    return 0;
}
