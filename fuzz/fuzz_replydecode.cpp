// A device's HTTP reply: the Content-Type rule, the body decoding, and the log line the body
// goes to. All of it comes straight from any host on the swept subnet.
//
// Input: one flag byte (bit 0: the device name, read as UTF-8), one length byte n, n bytes of
// Content-Type header, then the body.
#include "discovery/deviceprotocol.h"
#include "base/logtext.h"
#include "fuzzcheck.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2) {
        return 0;
    }
    const QString path
        = data[0] & 1 ? DeviceProtocol::deviceNamePath() : DeviceProtocol::fwVersionPath();
    const size_t headerLength = qMin<size_t>(data[1], size - 2);
    const QByteArray header(reinterpret_cast<const char *>(data + 2), int(headerLength));
    const QByteArray body(reinterpret_cast<const char *>(data + 2 + headerLength),
                          int(size - 2 - headerLength));

    // Qt's case-insensitive search folds Unicode; on a Latin-1 header it must agree with the
    // byte-wise rule, or a near-miss could slip past it.
    const QString headerText = QString::fromLatin1(header.constData(), header.size());
    FUZZ_CHECK(DeviceProtocol::isAcceptedContentType(headerText)
                   == header.toLower().contains("application/octet-stream"),
               headerText);

    const QString decoded = DeviceProtocol::decodeBody(body, path);
    // A line feed or a NUL in a value would break the table row.
    FUZZ_CHECK(!decoded.contains(QLatin1Char('\n')) && !decoded.contains(QChar(0)), decoded);
    const int nul = body.indexOf('\0');
    QByteArray kept = nul < 0 ? body : body.left(nul);
    FUZZ_CHECK(decoded.count(QLatin1Char('\r')) == kept.count('\r'), decoded);
    kept.replace('\n', QByteArray());
    if (path == DeviceProtocol::fwVersionPath()) {
        FUZZ_CHECK(decoded.toLatin1() == kept && decoded.size() == kept.size(), decoded);
    }

    // On the log, the value is one quoted line: no character that ends a line or drives a
    // terminal, and no more than the bounded length.
    for (const QString &logged : { LogText::quoted(decoded), LogText::quoted(body) }) {
        FUZZ_CHECK(logged.startsWith(QLatin1Char('"')), logged);
        FUZZ_CHECK(logged.size() <= LogText::kMaxLength * 6 + 32, logged);
        for (const QChar c : logged) {
            const ushort u = c.unicode();
            FUZZ_CHECK(u >= 0x20 && u != 0x7f && !(u >= 0x80 && u <= 0x9f) && u != 0x2028
                           && u != 0x2029 && !(u >= 0x202a && u <= 0x202e),
                       logged);
        }
    }
    return 0;
}
