#include "platform/hostlookup.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <memory>

namespace {

struct AddrInfoDeleter
{
    void operator()(addrinfo *info) const { freeaddrinfo(info); }
};

} // namespace

QString HostLookup::firstIpv4(const QByteArray &hostName)
{
    // getaddrinfo rather than gethostbyname: the latter returns static storage shared by every
    // thread, and the browse thread looks names up while the GUI thread may do the same.
    if (hostName.isEmpty() || hostName.contains('\0')) {
        return QString();
    }
    addrinfo hints = {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *raw = nullptr;
    if (getaddrinfo(hostName.constData(), nullptr, &hints, &raw) != 0 || !raw) {
        return QString();
    }
    std::unique_ptr<addrinfo, AddrInfoDeleter> result(raw);
    for (const addrinfo *entry = result.get(); entry; entry = entry->ai_next) {
        if (entry->ai_family == AF_INET && entry->ai_addr
            && entry->ai_addrlen >= static_cast<socklen_t>(sizeof(sockaddr_in))) {
            const auto *address = reinterpret_cast<const sockaddr_in *>(entry->ai_addr);
            char text[INET_ADDRSTRLEN] = {};
            if (inet_ntop(AF_INET, &address->sin_addr, text, sizeof(text))) {
                return QString::fromLatin1(text);
            }
        }
    }
    return QString();
}
