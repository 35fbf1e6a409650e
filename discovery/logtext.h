#ifndef LOGTEXT_H
#define LOGTEXT_H

#include <QByteArray>
#include <QString>

// Text that came from the network, made safe for one line of the debug log: quoted, with every
// character that could end the line, move the cursor or drive a terminal written as an escape,
// and cut to a bounded length. A device or an mDNS announcer can then neither forge log lines
// nor flood the log.
class LogText
{
public:
    static constexpr int kMaxLength = 1024;

    static QString quoted(const QString &text);
    // The same escapes, without quotes and without a length limit.
    static QString escaped(const QString &text);
    // Bytes of unknown encoding are shown as Latin-1, one character per byte.
    static QString quoted(const QByteArray &bytes);
};

#endif // LOGTEXT_H
