#include "logtext.h"

namespace {

// Characters a terminal acts on or that break a line apart: C0 and C1 controls, DEL, the
// Unicode line and paragraph separators, and the direction overrides that reorder what follows.
bool needsEscape(char16_t c)
{
    return c < 0x20 || (c >= 0x7f && c <= 0x9f) || c == 0x2028 || c == 0x2029
        || (c >= 0x200e && c <= 0x200f) || (c >= 0x202a && c <= 0x202e)
        || (c >= 0x2066 && c <= 0x2069);
}

} // namespace

QString LogText::quoted(const QString &text)
{
    QString out = QLatin1Char('"') + escaped(text.left(kMaxLength)) + QLatin1Char('"');
    if (text.size() > kMaxLength) {
        out += QStringLiteral("...(%1 more)").arg(text.size() - kMaxLength);
    }
    return out;
}

QString LogText::escaped(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar character : text) {
        const char16_t c = character.unicode();
        switch (c) {
        case '"':
            out += QLatin1String("\\\"");
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

QString LogText::quoted(const QByteArray &bytes)
{
    return quoted(QString::fromLatin1(bytes));
}
