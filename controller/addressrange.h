#ifndef ADDRESSRANGE_H
#define ADDRESSRANGE_H

#include <QString>
#include <QVector>

// The addresses a sweep visits, derived from an interface address and its netmask.
namespace AddressRange {

// The widest subnet swept whole; of a wider one, only the interface's own /16 is swept.
constexpr int kWidestPrefix = 16;

// Every host address between the swept subnet's network and broadcast addresses, ascending, in
// host byte order. Empty for a /31 or /32, for a netmask that is not contiguous, and for texts
// that are not dotted-quad addresses.
QVector<quint32> fromInterface(const QString &ipString, const QString &netmask);
// A range the user named, "network/prefix", as read, and why it is no range to sweep.
struct NamedRange
{
    enum class Problem {
        None,
        Malformed, // not an address, a slash and a prefix length 0 to 32 in plain digits
        TooWide, // a prefix shorter than kWidestPrefix
        HostBitsSet // an address inside the network rather than the network's own
    };
    Problem problem = Problem::Malformed;
    quint32 network = 0; // the address with its host bits cleared
    int prefix = 0;
    // "network/prefix", the range's own name.
    QString text() const;
};
NamedRange readRange(const QString &cidr);
// The addresses of a range the user named, "network/prefix" of at most a /16: its host
// addresses, or the one or two addresses of a /32 or /31. Empty for anything else.
QVector<quint32> fromRange(const QString &cidr);
// The swept subnet as "network/prefix"; empty where nothing is swept.
QString sweptSubnet(const QString &ipString, const QString &netmask);

} // namespace AddressRange

#endif // ADDRESSRANGE_H
