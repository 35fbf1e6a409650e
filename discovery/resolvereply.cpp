#include "resolvereply.h"

#include "base/ipv4text.h"

#include "platform/dnssdbinding.h"

#include <QByteArrayList>
#include <QTextCodec>

#include <algorithm>

namespace {

// The labels after the instance name in a full name, the root's empty one last: what is before
// them is the name the user gave the device.
const char *const kServiceLabels[] = { "_encoder", "_tcp", "local", "" };
constexpr int kServiceLabelCount = int(sizeof(kServiceLabels) / sizeof(kServiceLabels[0]));
// An "interface" TXT value starts with a five-character tag before the address it carries.
constexpr int kInterfaceTagLength = 5;
constexpr int kMacTextLength = 17;
constexpr int kUtf8Mib = 106;

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
    QString mac = txtText(value);
    // Upper case for ASCII letters alone: a MAC is hex digits, and a case mapping beyond ASCII
    // may change the length the row is cut to.
    for (QChar &c : mac) {
        if (c >= QLatin1Char('a') && c <= QLatin1Char('z')) {
            c = QChar(c.unicode() - 'a' + 'A');
        } else if (c == QLatin1Char(':')) {
            c = QLatin1Char('-');
        }
    }
    // Never half a character: a surrogate pair stays whole or goes.
    const int cut = mac.size() > kMacTextLength && mac.at(kMacTextLength).isLowSurrogate()
        ? kMacTextLength - 1
        : kMacTextLength;
    return mac.left(cut);
}

QString ResolveReply::firmwareFrom(const QByteArray &value)
{
    return txtText(value);
}

QString ResolveReply::nameFrom(const QByteArray &fullName)
{
    // The labels are told apart on the escaped name: a dot the user wrote into the name comes
    // escaped and separates nothing.
    QByteArrayList labels { QByteArray() };
    for (int i = 0; i < fullName.size(); ++i) {
        char c = fullName.at(i);
        if (c == '.') {
            labels.append(QByteArray());
            continue;
        }
        if (c == '\\' && i + 1 < fullName.size()) {
            const QByteArray digits = fullName.mid(i + 1, 3);
            bool decimal = digits.size() == 3
                && std::all_of(digits.cbegin(), digits.cend(),
                               [](char d) { return d >= '0' && d <= '9'; });
            const int byte = decimal ? digits.toInt() : 0;
            decimal = decimal && byte <= 255;
            c = decimal ? char(byte) : fullName.at(i + 1);
            i += decimal ? 3 : 1;
        }
        labels.last().append(c);
    }
    bool isService = labels.size() > kServiceLabelCount;
    for (int k = 0; isService && k < kServiceLabelCount; ++k) {
        isService = labels.at(labels.size() - kServiceLabelCount + k)
                        .compare(kServiceLabels[k], Qt::CaseInsensitive)
            == 0;
    }
    if (isService) {
        labels.erase(labels.end() - kServiceLabelCount, labels.end());
    }
    return readable(utf8(labels.join('.')));
}

QString ResolveReply::txtText(const QByteArray &value)
{
    return readable(decoded(value));
}

QString ResolveReply::decoded(const QByteArray &value)
{
    bool valid = false;
    const QString text = utf8(value, &valid);
    return valid ? text : QString::fromLatin1(value);
}

QString ResolveReply::utf8(const QByteArray &bytes, bool *valid)
{
    // Not QString::fromUtf8, which drops a byte order mark at the start: valid text is kept
    // whole, so that the check below can tell it from invalid text.
    QTextCodec::ConverterState state(QTextCodec::IgnoreHeader);
    QString text
        = QTextCodec::codecForMib(kUtf8Mib)->toUnicode(bytes.constData(), bytes.size(), &state);
    if (state.remainingChars > 0) {
        text += QChar::ReplacementCharacter;
    }
    if (valid) {
        *valid = state.invalidChars == 0 && state.remainingChars == 0;
    }
    return text;
}

QString ResolveReply::readable(QString text)
{
    // A row is one line of text: control characters (C0, DEL, C1), escaped in the name or
    // bytes read as Latin-1, would break the table, the log or the terminal it is printed on.
    const auto end = std::remove_if(text.begin(), text.end(),
                                    [](QChar c) { return c.category() == QChar::Other_Control; });
    text.truncate(int(end - text.begin()));
    return text;
}
