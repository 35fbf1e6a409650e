#ifndef RESOLVEREPLY_H
#define RESOLVEREPLY_H

#include <QByteArray>
#include <QString>

#include <cstdint>

// The rules that turn one DNS-SD resolve reply into a found-host report. Everything here comes
// from the network, so every read stays within the lengths DNS-SD defines and the library
// returns. The reply keeps copies of what it was given, so it may outlive the reply function.
class ResolveReply
{
public:
    // TXTRecordGetValuePtr's shape; the program's default goes through the DNS-SD library.
    using TxtLookup = const void *(*)(uint16_t txtLen, const void *txtRecord, const char *key,
                                      uint8_t *valueLen);

    // A full domain name in DNS-SD, escapes included, never exceeds this many bytes.
    static constexpr int kMaxDomainName = 1009;

    ResolveReply(const char *fullName, const char *hostTarget, uint16_t txtLen,
                 const unsigned char *txtRecord, TxtLookup lookup = nullptr);

    // The value of key, empty when absent; present (if given) tells an absent key from an
    // empty value.
    QByteArray txtValue(const char *key, bool *present = nullptr) const;
    // The value of key decoded as the row decodes it, control characters kept: for the log,
    // which quotes them.
    QString txtDecoded(const char *key) const { return decoded(txtValue(key)); }

    // The address to report, given what the lookup of the host name found (see addressFrom).
    QString addressText(const QString &hostAddress) const;
    QString macText() const;
    QString firmwareText() const;
    QString nameText() const;

    QByteArray hostTarget() const { return m_hostTarget; }

    // A name handed over by the library, read no further than the longest DNS-SD name.
    static QByteArray boundedText(const char *text);

    // The pure parts of the rules, on their own so they can be checked without a resolver.
    // The host's IPv4 address, else the "interface" TXT value after its first five characters;
    // each only when it is a plain dotted-quad address, else empty: nothing to report.
    static QString addressFrom(const QString &hostAddress, const QByteArray &interfaceValue,
                               bool interfacePresent);
    // text when it is four decimal numbers 0-255 joined by dots, and not 0.0.0.0; else empty.
    static QString dottedQuad(const QString &text);
    // The TXT value as UTF-8, as Latin-1 where it is no valid UTF-8; upper case, dashes for
    // colons, at most 17 characters.
    static QString macFrom(const QByteArray &value);
    // The TXT value as UTF-8, as Latin-1 where it is no valid UTF-8.
    static QString firmwareFrom(const QByteArray &value);
    // The instance name of a full name as the daemon writes it (escaped, "Roof\\032Camera" for
    // "Roof Camera"), unescaped and read as UTF-8, invalid sequences as U+FFFD; the whole name
    // when it is not of "_encoder._tcp.local.". Control characters are removed from all three.
    static QString nameFrom(const QByteArray &fullName);

private:
    static QString txtText(const QByteArray &value);
    // UTF-8, or Latin-1 where the bytes are no valid UTF-8.
    static QString decoded(const QByteArray &value);
    static QString utf8(const QByteArray &bytes, bool *valid = nullptr);
    static QString readable(QString text);

    QByteArray m_fullName;
    QByteArray m_hostTarget;
    QByteArray m_txtRecord;
    TxtLookup m_lookup;
};

#endif // RESOLVEREPLY_H
