#ifndef LOGTEXT_H
#define LOGTEXT_H

#include <QByteArray>
#include <QString>

// Text that came from the network, made safe for one line of a log or a terminal: quoted, with
// every character that could end the line, move the cursor, drive a terminal or reorder what a
// reader sees written as an escape, and cut to a bounded length. A device or an mDNS announcer
// can then neither forge log lines nor flood the log.
namespace LogText {

constexpr int kMaxLength = 1024;

QString quoted(const QString &text);
// The same escapes, without surrounding quotes and without a length limit; quotes in the text
// stay raw when escapeQuotes is false (a format with quoting rules of its own).
QString escaped(const QString &text, bool escapeQuotes = true);
// Bytes of unknown encoding are shown as Latin-1, one character per byte.
QString quoted(const QByteArray &bytes);
// Characters no reader should get raw: C0 and C1 controls, DEL, and the Unicode format
// characters that hide text or reorder it (zero-width, direction marks, embeddings, overrides
// and isolates, the Arabic letter mark, the byte order mark, the line and paragraph separators).
bool needsEscape(char16_t c);

} // namespace LogText

#endif // LOGTEXT_H
