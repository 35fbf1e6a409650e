#ifndef IPV4TEXT_H
#define IPV4TEXT_H

#include <QString>

#include <optional>

// IPv4 addresses as the program reads and writes them: four ASCII decimal groups of 0..255
// joined by dots and nothing else. Address texts that come from devices, announcers or users are
// parsed into numbers (host byte order, as QHostAddress holds them) before anything is sent or
// shown, so a text never travels on as an address it only resembles.
namespace Ipv4Text {

std::optional<quint32> parse(const QString &text);
QString format(quint32 address);
// An address of a single host a sweep or a query may send to: not 0.0.0.0/8, not multicast,
// not 240/4 with the limited broadcast.
bool isUnicast(quint32 address);

} // namespace Ipv4Text

#endif // IPV4TEXT_H
