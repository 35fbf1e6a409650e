#include "vendorprefix.h"

#include <QRegExp>

const QStringList &VendorPrefix::prefixes()
{
    static const QStringList list { QStringLiteral("0206"), QStringLiteral("d0c8"),
                                    QStringLiteral("08ea40"), QStringLiteral("0c8c24") };
    return list;
}

bool VendorPrefix::matches(const QString &macString)
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
