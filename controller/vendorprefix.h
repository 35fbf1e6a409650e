#ifndef VENDORPREFIX_H
#define VENDORPREFIX_H

#include <QString>
#include <QStringList>

// Which reported hosts are encoders of interest, by the first characters of their MAC text.
namespace VendorPrefix {

const QStringList &prefixes();
// Separators (":", "-", ".") are ignored; whitespace is not, so " d0c8..." does not match.
bool matches(const QString &macString);

} // namespace VendorPrefix

#endif // VENDORPREFIX_H
