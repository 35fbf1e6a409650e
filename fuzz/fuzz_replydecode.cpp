// Reading a device's HTTP reply: the Content-Type rule and the body decoding. Both take bytes
// straight from any host on the swept subnet.
//
// Input: one flag byte (bit 0: decode as UTF-8, as for /public/deviceName), one length byte n,
// n bytes of Content-Type header, then the body.
#include "discovery/devicereply.h"
#include "fuzzcheck.h"

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>

namespace {

// The header rule by other means: ASCII lower-casing of a Latin-1 header, then a plain search.
bool acceptedByBytes(const QByteArray &header)
{
    return header.toLower().contains("application/octet-stream");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2) {
        return 0;
    }
    const bool utf8 = data[0] & 1;
    const size_t headerLength = qMin<size_t>(data[1], size - 2);
    const QByteArray header(reinterpret_cast<const char *>(data + 2),
                            static_cast<int>(headerLength));
    const QByteArray body(reinterpret_cast<const char *>(data + 2 + headerLength),
                          static_cast<int>(size - 2 - headerLength));

    // Qt's case-insensitive search folds Unicode; on a Latin-1 header it must agree with the
    // byte-wise rule, or a hostile header could slip a near-miss past it.
    // Qt 5's fromLatin1(QByteArray) stops at a NUL; the header is taken whole.
    const QString headerText = QString::fromLatin1(header.constData(), header.size());
    const bool accepted = DeviceReply::isAcceptedContentType(headerText);
    FUZZ_CHECK(accepted == acceptedByBytes(header), headerText);

    const QString decoded = DeviceReply::decodeBody(body, utf8);
    // A line feed or a NUL in a name would break the table row and the log line.
    FUZZ_CHECK(!decoded.contains(QLatin1Char('\n')), decoded);
    FUZZ_CHECK(!decoded.contains(QChar(0)), decoded);

    const int nul = body.indexOf('\0');
    const QByteArray cut = nul < 0 ? body : body.left(nul);
    // Carriage returns stay: only line feeds are removed.
    FUZZ_CHECK(decoded.count(QLatin1Char('\r')) == cut.count('\r'), decoded);
    QByteArray kept = cut;
    kept.replace('\n', QByteArray());
    if (!utf8) {
        // Latin-1 maps each byte to one character, so nothing but the cut and the line feeds
        // may change.
        FUZZ_CHECK(decoded.size() == kept.size(), decoded);
        FUZZ_CHECK(decoded.toLatin1() == kept, decoded);
    } else if (QString::fromUtf8(cut).toUtf8() == cut) {
        // Valid UTF-8 comes through unchanged but for the line feeds, which are removed after
        // decoding: a line feed never splits a character.
        FUZZ_CHECK(decoded.toUtf8() == kept, decoded);
    }
    return 0;
}
