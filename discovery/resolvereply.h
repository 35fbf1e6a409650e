#ifndef RESOLVEREPLY_H
#define RESOLVEREPLY_H

#include <QByteArray>
#include <QString>

#include <atomic>
#include <cstdint>

// The rules that turn one DNS-SD resolve reply into a found-host report. Everything here comes
// from the network, so every read stays within the lengths DNS-SD defines and the library
// returns. The reply's buffers are borrowed: use the object only inside the reply function.
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

    // The host's IPv4 address, else the "interface" TXT value after its first five characters,
    // else "0.0.0.0". Looks the host name up, which may block; when abandon turns true the
    // lookup is given up and the result is meaningless.
    QString addressText(const std::atomic<bool> *abandon = nullptr) const;
    QString macText() const;
    QString firmwareText() const;
    QString nameText() const;

    QByteArray hostTarget() const { return m_hostTarget; }

    // The pure parts of the rules, on their own so they can be checked without a resolver.
    static QString addressFrom(const QString &hostAddress, const QByteArray &interfaceValue,
                               bool interfacePresent);
    static QString macFrom(const QByteArray &value);
    static QString firmwareFrom(const QByteArray &value);
    static QString nameFrom(const QByteArray &fullName);

private:
    QByteArray m_fullName;
    QByteArray m_hostTarget;
    uint16_t m_txtLen;
    const unsigned char *m_txtRecord;
    TxtLookup m_lookup;
};

#endif // RESOLVEREPLY_H
