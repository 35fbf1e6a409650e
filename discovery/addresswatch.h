#ifndef ADDRESSWATCH_H
#define ADDRESSWATCH_H

#include "discovery/dnssdconnection.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>

// The IPv4 address records of one host name, asked of the DNS-SD daemon for as long as this
// lives: what its mDNS cache holds, then every address the host announces later. The daemon
// answers from the link alone, so a unicast DNS server that never answers cannot hold it up, as
// it holds up the system's resolver (nss-mdns asks that server about ".local" first). Lives in
// the browse thread; AddressQueryCallBack's context.
class AddressWatch : public QObject
{
    Q_OBJECT
public:
    AddressWatch(const QByteArray &hostName, uint32_t interfaceIndex);
    ~AddressWatch() override;

    DNSServiceErrorType start(DnsSdConnection &connection);

    // From AddressQueryCallBack.
    void answered(DNSServiceErrorType errorCode, DNSServiceFlags flags, uint16_t rrtype,
                  uint16_t rrclass, uint16_t rdlen, const void *rdata);

signals:
    // An address record the host gained, as a dotted quad; not checked any further.
    void added(const QString &address);

private:
    const QByteArray m_hostName;
    const uint32_t m_interfaceIndex;
    std::unique_ptr<DnsSdConnection::Operation> m_operation;
};

// The reply function handed to DNSServiceQueryRecord; its context is the query's AddressWatch.
void AddressQueryCallBack(DNSServiceRef sdRef, DNSServiceFlags flags, uint32_t interfaceIndex,
                          DNSServiceErrorType errorCode, const char *fullname, uint16_t rrtype,
                          uint16_t rrclass, uint16_t rdlen, const void *rdata, uint32_t ttl,
                          void *context);

#endif // ADDRESSWATCH_H
