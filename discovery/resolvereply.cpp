#include "resolvereply.h"

#include "base/ipv4text.h"

#include "platform/dnssdbinding.h"

#include <QStringList>

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

} // namespace

ResolveReply::ResolveReply(const char *fullName, const char *hostTarget, uint16_t txtLen,
                           const unsigned char *txtRecord, TxtLookup lookup)
    : m_fullName(boundedText(fullName))
    , m_hostTarget(boundedText(hostTarget))
    , m_txtRecord(txtRecord ? QByteArray(reinterpret_cast<const char *>(txtRecord), txtLen)
                            : QByteArray())
    , m_lookup(lookup ? lookup : &libraryLookup)
{
}

QByteArray ResolveReply::boundedText(const char *text)
{
    if (!text) {
        return QByteArray();
    }
    return QByteArray(text, static_cast<int>(qstrnlen(text, kMaxDomainName)));
}

QByteArray ResolveReply::txtValue(const char *key, bool *present) const
{
    if (present) {
        *present = false;
    }
    if (m_txtRecord.isEmpty()) {
        return QByteArray();
    }
    const auto *record = reinterpret_cast<const unsigned char *>(m_txtRecord.constData());
    uint8_t length = 0;
    const auto *value = static_cast<const unsigned char *>(
        m_lookup(static_cast<uint16_t>(m_txtRecord.size()), record, key, &length));
    const unsigned char *end = record + m_txtRecord.size();
    // A value the library places outside the record it was given is no value; one that runs
    // past the record's end is cut there. Either way nothing beyond the record is read.
    if (!value || value < record || value > end) {
        return QByteArray();
    }
    if (present) {
        *present = true;
    }
    const auto available = static_cast<int>(end - value);
    return QByteArray(reinterpret_cast<const char *>(value), qMin<int>(length, available));
}

QString ResolveReply::addressText(const QString &hostAddress) const
{
    bool interfacePresent = false;
    const QByteArray interfaceValue = txtValue("interface", &interfacePresent);
    return addressFrom(hostAddress, interfaceValue, interfacePresent);
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
    const QString fromHost = dottedQuad(hostAddress);
    if (!fromHost.isEmpty() || !interfacePresent) {
        return fromHost;
    }
    return dottedQuad(QString::fromLatin1(interfaceValue.mid(kInterfaceTagLength)));
}

QString ResolveReply::dottedQuad(const QString &text)
{
    // The row's address becomes a URL, a target for the device queries and for identify. Any
    // announcer can write the "interface" value and publish an address record, so only a plain
    // address of a host passes: no host names, ports or paths, no leading zeros (which some
    // readers of an address take for octal), and nothing that names no single remote device.
    const std::optional<quint32> address = Ipv4Text::parse(text);
    if (!address || Ipv4Text::format(*address) != text || !Ipv4Text::isUnicast(*address)
        || (*address >> 24) == 127) {
        return QString();
    }
    return text;
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
