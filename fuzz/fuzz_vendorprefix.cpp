// The vendor prefix test, on MAC texts from ARP answers, /public/macAddress bodies and mDNS TXT
// values: a wrong answer hides an encoder or lists a foreign host.
// Input: the MAC text, Latin-1 when the first byte is even, UTF-8 otherwise.
#include "controller/vendorprefix.h"
#include "fuzzcheck.h"

#include <cstddef>
#include <cstdint>

namespace {

// The rule written out without a regular expression: ASCII letters, digits and whitespace
// survive the cleaning, then the text must begin with a prefix, ignoring case.
bool referenceMatch(const QString &mac)
{
    QString cleaned;
    for (const QChar c : mac) {
        const bool asciiLetter = c.unicode() < 128 && c.isLetter();
        if (asciiLetter || c.isDigit() || c.isSpace()) {
            cleaned.append(c);
        }
    }
    for (const QString &prefix : VendorPrefix::prefixes()) {
        if (cleaned.startsWith(prefix, Qt::CaseInsensitive)) {
            return true;
        }
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1) {
        return 0;
    }
    const auto *text = reinterpret_cast<const char *>(data + 1);
    const int length = static_cast<int>(size - 1);
    const QString mac
        = data[0] % 2 == 0 ? QString::fromLatin1(text, length) : QString::fromUtf8(text, length);

    const bool matches = VendorPrefix::matches(mac);
    FUZZ_CHECK(matches == referenceMatch(mac), mac);

    // Separators and letter case are how vendors differ in writing the same MAC; neither may
    // change the verdict.
    FUZZ_CHECK(VendorPrefix::matches(mac.toUpper()) == referenceMatch(mac.toUpper()), mac);
    QString separated;
    for (const QChar c : mac) {
        separated.append(c);
        separated.append(QLatin1Char(':'));
    }
    FUZZ_CHECK(VendorPrefix::matches(separated) == matches, separated);
    return 0;
}
