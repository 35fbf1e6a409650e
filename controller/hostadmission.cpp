#include "hostadmission.h"

#include "controller/vendorprefix.h"

HostAdmission::Verdict HostAdmission::admit(const QString &ip, const QString &mac)
{
    if (!VendorPrefix::matches(mac)) {
        return Verdict::Rejected;
    }
    const auto known = m_seen.find(ip);
    if (known == m_seen.end()) {
        m_seen.insert(ip, { mac });
        return Verdict::New;
    }
    if (known->contains(mac, Qt::CaseInsensitive)) {
        return Verdict::Rejected;
    }
    known->append(mac);
    return Verdict::Conflict;
}
