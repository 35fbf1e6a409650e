#include "platform/hostlookup.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace {

// How often an abandonable lookup looks at its abandon flag while the resolver works.
constexpr std::chrono::milliseconds kAbandonCheck(20);

struct AddrInfoDeleter
{
    void operator()(addrinfo *info) const { freeaddrinfo(info); }
};

QString lookUp(const QByteArray &hostName)
{
    // getaddrinfo rather than gethostbyname: the latter returns static storage shared by every
    // thread.
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

// Shared by the caller and the thread that runs the lookup; whichever ends last frees it, so an
// abandoned lookup may finish in its own time.
struct PendingLookup
{
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    QString address;
};

} // namespace

QString HostLookup::firstIpv4(const QByteArray &hostName, const std::atomic<bool> *abandon)
{
    if (hostName.isEmpty() || hostName.contains('\0')) {
        return QString();
    }
    if (!abandon) {
        return lookUp(hostName);
    }
    // The resolver cannot be interrupted, so it runs on a thread of its own and the caller
    // waits for it only as long as it is wanted.
    auto pending = std::make_shared<PendingLookup>();
    std::thread([pending, hostName] {
        const QString address = lookUp(hostName);
        std::lock_guard<std::mutex> lock(pending->mutex);
        pending->address = address;
        pending->done = true;
        pending->finished.notify_all();
    }).detach();

    std::unique_lock<std::mutex> lock(pending->mutex);
    while (!pending->done) {
        if (abandon->load()) {
            return QString();
        }
        pending->finished.wait_for(lock, kAbandonCheck);
    }
    return pending->address;
}
