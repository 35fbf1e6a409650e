// Recovering the device's address and the endpoint from a reply's URL. The Controller files
// each HTTP answer under the address it reads back from the URL, so a wrong address would put
// one device's name on another device's row.
//
// Input: four address bytes and an endpoint selector build a request URL the way the program
// does; the whole input, read as UTF-8, is also handed over as an arbitrary URL text.
#include "discovery/devicereply.h"
#include "fuzzcheck.h"

#include <QString>
#include <QStringList>

#include <cstddef>
#include <cstdint>

namespace {

const QStringList &endpoints()
{
    static const QStringList paths { DeviceReply::macAddressPath(), DeviceReply::deviceNamePath(),
                                     DeviceReply::fwVersionPath() };
    return paths;
}

void checkRoundTrip(const uint8_t *octets, uint8_t selector)
{
    const QString ip
        = QStringLiteral("%1.%2.%3.%4").arg(octets[0]).arg(octets[1]).arg(octets[2]).arg(octets[3]);
    const QString &path = endpoints().at(selector % 3);
    const QString urlText = DeviceReply::urlFor(ip, path).toString();
    FUZZ_CHECK(DeviceReply::addressOf(urlText) == ip, urlText);
    FUZZ_CHECK(DeviceReply::pathOf(urlText) == path, urlText);
}

void checkArbitraryText(const QString &urlText)
{
    const QString address = DeviceReply::addressOf(urlText);
    // Never more than the text holds, never a read before its start.
    FUZZ_CHECK(address.size() == qMax(0, urlText.size() - 25), urlText);
    FUZZ_CHECK(address.isEmpty() || urlText.mid(7).startsWith(address), urlText);

    const QString path = DeviceReply::pathOf(urlText);
    FUZZ_CHECK(path.isEmpty() || (endpoints().contains(path) && urlText.contains(path)), urlText);
    // The lookup order decides between paths: the name first, then the MAC, then the firmware.
    if (urlText.contains(DeviceReply::deviceNamePath())) {
        FUZZ_CHECK(path == DeviceReply::deviceNamePath(), urlText);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size >= 5) {
        checkRoundTrip(data, data[4]);
    }
    checkArbitraryText(
        QString::fromUtf8(reinterpret_cast<const char *>(data), static_cast<int>(size)));
    return 0;
}
