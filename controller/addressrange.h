#ifndef ADDRESSRANGE_H
#define ADDRESSRANGE_H

#include <QString>
#include <QStringList>

// The addresses a sweep visits, derived from an interface address and its netmask.
class AddressRange
{
public:
    // Third octet ascending, fourth octet ascending inside; the block's .0 and .255 are never
    // visited and only the last two mask octets count. totalCount receives the progress
    // denominator even when no address is produced. Texts that do not have four parts give an
    // empty list and a total of 0.
    static QStringList fromInterface(const QString &ipString, const QString &netmask,
                                     int *totalCount);
};

#endif // ADDRESSRANGE_H
