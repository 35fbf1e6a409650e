#ifndef HOSTLOOKUP_H
#define HOSTLOOKUP_H

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>

// One forward lookup of a host name through the system's resolver (hosts file, mDNS, DNS). The
// resolver cannot be interrupted, and for an mDNS name that nobody answers it takes seconds, so
// the lookup runs on a thread of its own and the caller's thread never waits for it.
class HostLookup : public QObject
{
    Q_OBJECT
public:
    // At most this many lookups run at a time, abandoned ones included; a lookup asked for
    // beyond that finds nothing. Each one holds a thread until the resolver gives up.
    static constexpr int kMaxRunning = 32;

    // Starts looking hostName up; finished follows in this object's thread, never from inside
    // the constructor.
    explicit HostLookup(const QByteArray &hostName);
    // Abandons the lookup: once this returns, finished is no longer emitted. The resolver's
    // thread ends in its own time.
    ~HostLookup() override;

signals:
    // The first IPv4 address of the name in dotted form, or empty when it has none.
    void finished(const QString &address);

private:
    struct State;
    std::shared_ptr<State> m_state;
};

#endif // HOSTLOOKUP_H
