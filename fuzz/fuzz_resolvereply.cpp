// An mDNS resolve reply, from any host on the link: TXT lookups, name, MAC, firmware, address.
// Input: a mode byte, offset and length bytes for the faulty library, a length byte h, h bytes
// of looked-up host address text, the full name up to the first NUL, then the TXT record.
// Mode bit 0 set: instead of the DNS-SD library, a faulty one that answers with a value at an
// input-chosen offset and length around the record: no value may be read outside the record.
#include "platform/dnssdbinding.h"
#include "discovery/resolvereply.h"
#include "fuzzcheck.h"

#include <QByteArray>
#include <QRegularExpression>
#include <QString>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

namespace {

// The faulty library's answer for the current input; lookups have no context argument.
int16_t s_faultyOffset = 0;
uint8_t s_faultyLength = 0;

const void *faultyLookup(uint16_t, const void *txtRecord, const char *, uint8_t *valueLen)
{
    *valueLen = s_faultyLength;
    // Integer arithmetic: the address may lie outside the record, as a broken library's could.
    return reinterpret_cast<const void *>(reinterpret_cast<uintptr_t>(txtRecord)
                                          + static_cast<intptr_t>(s_faultyOffset));
}

const char *const kKeys[] = { "MAC", "FW", "Code", "interface" };

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 6) {
        return 0;
    }
    const bool faulty = data[0] & 1;
    s_faultyOffset = static_cast<int16_t>(data[1] | (data[2] << 8));
    s_faultyLength = data[3];
    size_t pos = 5;
    const size_t hostLength = qMin<size_t>(data[4], size - pos);
    const QString hostAddress = QString::fromLatin1(reinterpret_cast<const char *>(data + pos),
                                                    static_cast<int>(hostLength));
    pos += hostLength;

    const auto *nameStart = reinterpret_cast<const char *>(data + pos);
    const auto *nameEnd = static_cast<const char *>(std::memchr(nameStart, 0, size - pos));
    const size_t nameLength = nameEnd ? static_cast<size_t>(nameEnd - nameStart) : size - pos;
    // The library hands over NUL-terminated names; keep this one in a block of its own size so
    // that a read past the terminator is caught.
    std::unique_ptr<char[]> fullName(new char[nameLength + 1]);
    std::memcpy(fullName.get(), nameStart, nameLength);
    fullName[nameLength] = '\0';
    pos = qMin(size, pos + nameLength + 1);

    // A TXT record is at most 65535 bytes; the input ends where the block libFuzzer holds it
    // in ends, so reading past the record is caught.
    const size_t txtLength = qMin<size_t>(size - pos, 65535);
    const QByteArray record(reinterpret_cast<const char *>(data + pos),
                            static_cast<int>(txtLength));
    const ResolveReply reply(fullName.get(), "", static_cast<uint16_t>(txtLength), data + pos,
                             faulty ? &faultyLookup : nullptr);

    for (const char *key : kKeys) {
        bool present = false;
        const QByteArray value = reply.txtValue(key, &present);
        // A TXT value is at most 255 bytes and is always part of the record it came from.
        FUZZ_CHECK(value.size() <= 255 && (value.isEmpty() || record.contains(value)),
                   QString::fromLatin1(key));
    }

    const auto hasControl = [](const QString &text) {
        return std::any_of(text.cbegin(), text.cend(),
                           [](QChar c) { return c.category() == QChar::Other_Control; });
    };
    // The MAC in the ARP rows' form: upper case, dashes, at most 17 characters, none of them
    // half a surrogate pair. However the bytes decode, no control character reaches a row.
    const QString mac = reply.macText();
    FUZZ_CHECK(mac.size() <= 17 && !mac.contains(QRegularExpression(QStringLiteral("[:a-z]")))
                   && QString::fromUtf8(mac.toUtf8()) == mac,
               mac);
    const QString firmware = reply.firmwareText();
    const QString name = reply.nameText();
    FUZZ_CHECK(!hasControl(mac) && !hasControl(firmware) && !hasControl(name), firmware + name);
    // Names longer than a DNS name can be are cut, never read on.
    FUZZ_CHECK(name.toUtf8().size() <= ResolveReply::kMaxDomainName * 3, name);
    // Any instance name written with a decimal escape for every byte, dots and suffix
    // look-alikes included, comes back whole when it is UTF-8 without control characters.
    const QByteArray label(fullName.get(), static_cast<int>(qMin<size_t>(nameLength, 250)));
    QByteArray escaped;
    for (const char byte : label) {
        escaped += '\\' + QByteArray::number(static_cast<uint8_t>(byte)).rightJustified(3, '0');
    }
    const QString decoded = QString::fromUtf8(label);
    if (decoded.toUtf8() == label && !decoded.startsWith(QChar(0xfeff)) && !hasControl(decoded)) {
        FUZZ_CHECK(ResolveReply::nameFrom(escaped + "._encoder._tcp.local.") == decoded, decoded);
    }

    bool hasInterface = false;
    const QByteArray interfaceValue = reply.txtValue("interface", &hasInterface);
    const QString address = ResolveReply::addressFrom(hostAddress, interfaceValue, hasInterface);
    // Whatever the announcer sends, the row's address is a plain dotted quad of a single remote
    // host (not this network, loopback, multicast or broadcast) or nothing, and a host that
    // resolves to one wins over the announcement.
    static const QRegularExpression quad(QRegularExpression::anchoredPattern(QStringLiteral(
        "(?!0\\.|127\\.|22[4-9]\\.|2[3-5][0-9]\\.)(25[0-5]|2[0-4][0-9]|1[0-9][0-9]|[1-9]?[0-9])"
        "(\\.(?1)){3}")));
    FUZZ_CHECK(address.isEmpty() || quad.match(address).hasMatch(), address);
    FUZZ_CHECK(quad.match(hostAddress).hasMatch()
                   ? address == hostAddress
                   : address.isEmpty() || address == QString::fromLatin1(interfaceValue.mid(5)),
               address);
    return 0;
}
