#ifndef ADDRESSRANGE_H
#define ADDRESSRANGE_H

#include <QString>
#include <QVector>

// The addresses a sweep visits, derived from an interface address and its netmask.
namespace AddressRange {

// The longest sweep: a subnet wider than a /16 is not swept whole.
constexpr int kMaxAddresses = 65024;

// Every host address between the subnet's network and broadcast addresses, ascending, in
// host byte order; for a subnet wider than /16, the kMaxAddresses of them nearest the
// interface address. Empty for a /31 or /32, for a netmask that is not contiguous, and for
// texts that are not dotted-quad addresses.
QVector<quint32> fromInterface(const QString &ipString, const QString &netmask);

} // namespace AddressRange

#endif // ADDRESSRANGE_H
