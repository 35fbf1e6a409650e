// Address texts from users, devices and announcers: only a strict dotted quad becomes an
// address, and the address always reads back as the same text it would be sent to.
//
// Input: the text, as Latin-1.
#include "discovery/deviceprotocol.h"
#include "discovery/ipv4text.h"
#include "fuzzcheck.h"

#include <QRegularExpression>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text
        = QString::fromLatin1(reinterpret_cast<const char *>(data), static_cast<int>(size));
    static const QRegularExpression quad(
        QStringLiteral("^(\\d{1,3})\\.(\\d{1,3})\\.(\\d{1,3})\\.(\\d{1,3})\\z"));
    const QRegularExpressionMatch match = quad.match(text);
    bool inRange = match.hasMatch();
    for (int i = 1; inRange && i <= 4; ++i) {
        inRange = match.captured(i).toUInt() <= 255;
    }
    const std::optional<quint32> address = Ipv4Text::parse(text);
    FUZZ_CHECK(address.has_value() == inRange, text);
    if (!address) {
        return 0;
    }
    FUZZ_CHECK(Ipv4Text::parse(Ipv4Text::format(*address)) == address, text);
    // The device's URL carries exactly that address, whatever the text looked like.
    const QUrl url = DeviceProtocol::request(*address, DeviceProtocol::deviceNamePath()).url();
    FUZZ_CHECK(url.host() == Ipv4Text::format(*address), url.toString());
    FUZZ_CHECK(url.path() == DeviceProtocol::deviceNamePath() && url.port() == -1, url.toString());
    return 0;
}
