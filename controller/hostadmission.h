#ifndef HOSTADMISSION_H
#define HOSTADMISSION_H

#include <QHash>
#include <QString>
#include <QStringList>

// Which hosts a scan reports become devices: those whose MAC carries a vendor prefix, each
// address and MAC once per scan. A second MAC for an address is a second device on it.
class HostAdmission
{
public:
    enum class Verdict {
        Rejected, // not an encoder, or heard of already
        New, // a device of interest heard of for the first time in this scan
        Conflict // another device on an address that has one already
    };

    // A new scan: every address may be handled again.
    void clear() { m_seen.clear(); }
    // The prefix test comes first: a host whose MAC fails it may be reported again with one
    // that passes.
    Verdict admit(const QString &ip, const QString &mac);
    // The MACs admitted for an address, in the order they came.
    QStringList macsOf(const QString &ip) const { return m_seen.value(ip); }
    // The device at ip has moved on: a later report of that address is handled again.
    void forget(const QString &ip) { m_seen.remove(ip); }

private:
    QHash<QString, QStringList> m_seen;
};

#endif // HOSTADMISSION_H
