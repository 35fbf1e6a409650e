#ifndef VENDORPREFIX_H
#define VENDORPREFIX_H

#include <QString>
#include <QStringList>

// Which reported hosts are encoders of interest, by the first characters of their MAC text.
class VendorPrefix
{
public:
    static const QStringList &prefixes();
    // Separators (":", "-", ".") are ignored; whitespace is not, so " d0c8..." does not match.
    static bool matches(const QString &macString);
};

#endif // VENDORPREFIX_H
