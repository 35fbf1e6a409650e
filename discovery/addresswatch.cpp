#include "addresswatch.h"

#include "base/ipv4text.h"
#include "base/logtext.h"

#include <QDebug>

namespace {

constexpr uint16_t kIpv4Length = 4;

} // namespace

AddressWatch::AddressWatch(const QByteArray &hostName, uint32_t interfaceIndex)
    : m_hostName(hostName), m_interfaceIndex(interfaceIndex)
{
}

AddressWatch::~AddressWatch() = default;

DNSServiceErrorType AddressWatch::start(DnsSdConnection &connection)
{
    if (m_hostName.isEmpty()) {
        return kDNSServiceErr_Unknown;
    }
    // A failed query just reports nothing more; whoever waits for an address has a time limit.
    return connection.queryRecord(&m_operation, m_interfaceIndex, m_hostName.constData(),
                                  kDNSServiceType_A, &AddressQueryCallBack, this,
                                  [](DNSServiceErrorType) {});
}

void AddressWatch::answered(DNSServiceErrorType errorCode, DNSServiceFlags flags, uint16_t rrtype,
                            uint16_t rrclass, uint16_t rdlen, const void *rdata)
{
    if (errorCode != kDNSServiceErr_NoError) {
        qCDebug(lcDnsSd).noquote()
            << "address query for" << LogText::quoted(QString::fromUtf8(m_hostName))
            << "failed:" << errorCode;
        return;
    }
    // A record that went away is no news: the row keeps its address until another one comes.
    if (!(flags & kDNSServiceFlagsAdd) || rrtype != kDNSServiceType_A
        || rrclass != kDNSServiceClass_IN || rdlen != kIpv4Length || !rdata) {
        return;
    }
    const auto *bytes = static_cast<const unsigned char *>(rdata);
    const quint32 address = (quint32(bytes[0]) << 24) | (quint32(bytes[1]) << 16)
        | (quint32(bytes[2]) << 8) | quint32(bytes[3]);
    emit added(Ipv4Text::format(address));
}

void AddressQueryCallBack(DNSServiceRef sdRef, DNSServiceFlags flags, uint32_t interfaceIndex,
                          DNSServiceErrorType errorCode, const char *fullname, uint16_t rrtype,
                          uint16_t rrclass, uint16_t rdlen, const void *rdata, uint32_t ttl,
                          void *context)
{
    Q_UNUSED(sdRef)
    Q_UNUSED(interfaceIndex)
    Q_UNUSED(fullname)
    Q_UNUSED(ttl)
    static_cast<AddressWatch *>(context)->answered(errorCode, flags, rrtype, rrclass, rdlen, rdata);
}
