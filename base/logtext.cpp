#include "logtext.h"

namespace LogText {

bool needsEscape(char16_t c)
{
    return c < 0x20 || (c >= 0x7f && c <= 0x9f) || c == 0x061c || (c >= 0x200b && c <= 0x200f)
        || (c >= 0x2028 && c <= 0x202e) || (c >= 0x2060 && c <= 0x2069) || c == 0xfeff;
}

QString quoted(const QString &text)
{
    QString out = QLatin1Char('"') + escaped(text.left(kMaxLength)) + QLatin1Char('"');
    if (text.size() > kMaxLength) {
        out += QStringLiteral("...(%1 more)").arg(text.size() - kMaxLength);
    }
    return out;
}

QString escaped(const QString &text, bool escapeQuotes)
{
    QString out;
    out.reserve(text.size());
    for (const QChar character : text) {
        const char16_t c = character.unicode();
        switch (c) {
        case '"':
            out += escapeQuotes ? QLatin1String("\\\"") : QLatin1String("\"");
            break;
        case '\\':
            out += QLatin1String("\\\\");
            break;
        case '\n':
            out += QLatin1String("\\n");
            break;
        case '\r':
            out += QLatin1String("\\r");
            break;
        case '\t':
            out += QLatin1String("\\t");
            break;
        default:
            if (needsEscape(c)) {
                out += QStringLiteral("\\u%1").arg(uint(c), 4, 16, QLatin1Char('0'));
            } else {
                out += character;
            }
        }
    }
    return out;
}

QString quoted(const QByteArray &bytes)
{
    return quoted(QString::fromLatin1(bytes));
}

} // namespace LogText
