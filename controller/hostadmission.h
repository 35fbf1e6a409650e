#ifndef HOSTADMISSION_H
#define HOSTADMISSION_H

#include <QSet>
#include <QString>

// Which hosts a scan reports become devices: those whose MAC carries a vendor prefix, each
// address once per scan.
class HostAdmission
{
public:
    // A new scan: every address may be handled again.
    void clear() { m_seen.clear(); }
    // True for a device of interest heard of for the first time in this scan, which also marks
    // its address as handled. The prefix test comes first: a host whose MAC fails it may be
    // reported again with one that passes.
    bool admit(const QString &ip, const QString &mac);
    // The device at ip has moved on: a later report of that address is handled again.
    void forget(const QString &ip) { m_seen.remove(ip); }

private:
    QSet<QString> m_seen;
};

#endif // HOSTADMISSION_H
