#include "ipv4text.h"

#include <QStringList>

namespace Ipv4Text {

std::optional<quint32> parse(const QString &text)
{
    const QStringList groups = text.split(QLatin1Char('.'));
    if (groups.size() != 4) {
        return std::nullopt;
    }
    quint32 address = 0;
    for (const QString &group : groups) {
        // ASCII digits only: toUInt alone would accept blanks, signs and other scripts' digits.
        if (group.isEmpty() || group.size() > 3) {
            return std::nullopt;
        }
        for (const QChar c : group) {
            if (c < QLatin1Char('0') || c > QLatin1Char('9')) {
                return std::nullopt;
            }
        }
        const uint value = group.toUInt();
        if (value > 255) {
            return std::nullopt;
        }
        address = address << 8 | value;
    }
    return address;
}

QString format(quint32 address)
{
    return QStringLiteral("%1.%2.%3.%4")
        .arg(address >> 24)
        .arg(address >> 16 & 0xff)
        .arg(address >> 8 & 0xff)
        .arg(address & 0xff);
}

bool isUnicast(quint32 address)
{
    // Multicast (224/4) and the reserved 240/4 with the limited broadcast in it name no single
    // host, nor does 0/8.
    const quint32 first = address >> 24;
    return first != 0 && first < 224;
}

} // namespace Ipv4Text
