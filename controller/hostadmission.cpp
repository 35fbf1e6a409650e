#include "hostadmission.h"

#include "controller/vendorprefix.h"

bool HostAdmission::admit(const QString &ip, const QString &mac)
{
    if (!VendorPrefix::matches(mac) || m_seen.contains(ip)) {
        return false;
    }
    m_seen.insert(ip);
    return true;
}
