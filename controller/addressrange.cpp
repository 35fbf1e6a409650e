#include "addressrange.h"

QStringList AddressRange::fromInterface(const QString &ipString, const QString &netmask,
                                        int *totalCount)
{
    QStringList list;
    const QStringList ip = ipString.split(QLatin1Char('.'));
    const QStringList mask = netmask.split(QLatin1Char('.'));
    if (ip.size() < 4 || mask.size() < 4) {
        // The range cannot be derived; never read parts that are not there.
        *totalCount = 0;
        return list;
    }
    const int m3 = mask.at(2).toInt(nullptr, 10);
    const int m4 = mask.at(3).toInt(nullptr, 10);
    int third = m3 & ip.at(2).toInt(nullptr, 10);
    const int base = m4 & ip.at(3).toInt(nullptr, 10);

    // Unsigned arithmetic: a hostile mask text such as "0.0.-99999999.0" must not overflow.
    *totalCount
        = static_cast<int>(static_cast<unsigned>(256 - m3) * static_cast<unsigned>(254 - m4));

    // Out-of-range octets would make the loops below run for billions of rounds; a real mask
    // octet lies in 0..255.
    if (m3 < 0 || m3 > 255 || m4 < 0 || m4 > 255) {
        return list;
    }
    if (m4 < 254) {
        list.reserve((256 - m3) * (254 - m4));
    }
    for (int block = 0; block < 256 - m3; ++block) {
        if (m4 < 254) {
            for (int fourth = base + 1; fourth <= base + (254 - m4); ++fourth) {
                list.append(
                    QStringLiteral("%1.%2.%3.%4").arg(ip.at(0), ip.at(1)).arg(third).arg(fourth));
            }
        }
        ++third;
    }
    return list;
}
