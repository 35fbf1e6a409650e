#include "resolvereply.h"

#include "discovery/dnssdbinding.h"
#include "platform/hostlookup.h"

namespace {

// The service type's suffix as the daemon spells it in a full name; what is left is the
// instance name the user gave the device.
const QString kServiceSuffix = QStringLiteral("._encoder._tcp.local.");
// An "interface" TXT value starts with a five-character tag before the address it carries.
constexpr int kInterfaceTagLength = 5;
constexpr int kMacTextLength = 17;

const void *libraryLookup(uint16_t txtLen, const void *txtRecord, const char *key,
                          uint8_t *valueLen)
{
    return DnsSdBinding::instance().txtRecordGetValuePtr(txtLen, txtRecord, key, valueLen);
}

QByteArray boundedString(const char *text)
{
    if (!text) {
        return QByteArray();
    }
    return QByteArray(text, static_cast<int>(qstrnlen(text, ResolveReply::kMaxDomainName)));
}

} // namespace

ResolveReply::ResolveReply(const char *fullName, const char *hostTarget, uint16_t txtLen,
                           const unsigned char *txtRecord, TxtLookup lookup)
    : m_fullName(boundedString(fullName))
    , m_hostTarget(boundedString(hostTarget))
    , m_txtLen(txtRecord ? txtLen : 0)
    , m_txtRecord(txtRecord)
    , m_lookup(lookup ? lookup : &libraryLookup)
{
}

QByteArray ResolveReply::txtValue(const char *key, bool *present) const
{
    if (present) {
        *present = false;
    }
    if (m_txtLen == 0) {
        return QByteArray();
    }
    uint8_t length = 0;
    const auto *value
        = static_cast<const unsigned char *>(m_lookup(m_txtLen, m_txtRecord, key, &length));
    const unsigned char *end = m_txtRecord + m_txtLen;
    // A value the library places outside the record it was given is no value; one that runs
    // past the record's end is cut there. Either way nothing beyond the record is read.
    if (!value || value < m_txtRecord || value > end) {
        return QByteArray();
    }
    if (present) {
        *present = true;
    }
    const auto available = static_cast<int>(end - value);
    return QByteArray(reinterpret_cast<const char *>(value), qMin<int>(length, available));
}

QString ResolveReply::addressText(const std::atomic<bool> *abandon) const
{
    bool interfacePresent = false;
    const QByteArray interfaceValue = txtValue("interface", &interfacePresent);
    return addressFrom(HostLookup::firstIpv4(m_hostTarget, abandon), interfaceValue,
                       interfacePresent);
}

QString ResolveReply::macText() const
{
    return macFrom(txtValue("MAC"));
}

QString ResolveReply::firmwareText() const
{
    return firmwareFrom(txtValue("FW"));
}

QString ResolveReply::nameText() const
{
    return nameFrom(m_fullName);
}

QString ResolveReply::addressFrom(const QString &hostAddress, const QByteArray &interfaceValue,
                                  bool interfacePresent)
{
    if (!hostAddress.isEmpty()) {
        return hostAddress;
    }
    if (interfacePresent && !interfaceValue.isEmpty()) {
        return QString::fromLatin1(interfaceValue).mid(kInterfaceTagLength);
    }
    return QStringLiteral("0.0.0.0");
}

QString ResolveReply::macFrom(const QByteArray &value)
{
    return QString::fromLatin1(value)
        .left(kMacTextLength)
        .replace(QLatin1Char(':'), QLatin1Char('-'));
}

QString ResolveReply::firmwareFrom(const QByteArray &value)
{
    return QString::fromLatin1(value).remove(QLatin1Char('\n'));
}

QString ResolveReply::nameFrom(const QByteArray &fullName)
{
    return QString::fromUtf8(fullName).remove(kServiceSuffix).remove(QLatin1Char('\n'));
}
