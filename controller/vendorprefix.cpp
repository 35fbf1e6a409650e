#include "vendorprefix.h"

#include <QRegExp>

namespace VendorPrefix {

const QStringList &prefixes()
{
    static const QStringList list { QStringLiteral("0206"), QStringLiteral("d0c8"),
                                    QStringLiteral("08ea40"), QStringLiteral("0c8c24") };
    return list;
}

bool matches(const QString &macString)
{
    static const QRegExp separators(QStringLiteral("[^a-zA-Z\\d\\s]"));
    QString cleaned = macString;
    cleaned.remove(separators);
    for (const QString &prefix : prefixes()) {
        if (cleaned.left(prefix.length()).contains(prefix, Qt::CaseInsensitive)) {
            return true;
        }
    }
    return false;
}

} // namespace VendorPrefix
