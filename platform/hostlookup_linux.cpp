#include "platform/hostlookup.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <mutex>
#include <thread>

namespace {

std::atomic<int> s_running { 0 };

struct AddrInfoDeleter
{
    void operator()(addrinfo *info) const { freeaddrinfo(info); }
};

QString lookUp(const QByteArray &hostName)
{
    if (hostName.isEmpty() || hostName.contains('\0')) {
        return QString();
    }
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

} // namespace

// Shared by the caller and the resolver's thread: an abandoned lookup may finish in its own time.
struct HostLookup::State
{
    std::mutex mutex;
    // Null once the lookup is abandoned; the resolver's thread emits through it only under the
    // mutex, so never while the object goes.
    HostLookup *lookup = nullptr;
};

HostLookup::HostLookup(const QByteArray &hostName) : m_state(std::make_shared<State>())
{
    m_state->lookup = this;
    if (s_running.fetch_add(1) >= kMaxRunning) {
        s_running.fetch_sub(1);
        QMetaObject::invokeMethod(
            this, [this] { emit finished(QString()); }, Qt::QueuedConnection);
        return;
    }
    // The result travels as a queued signal: Qt copies it into this object's thread.
    std::thread([state = m_state, hostName] {
        const QString address = lookUp(hostName);
        {
            std::lock_guard<std::mutex> lock(state->mutex);
            if (state->lookup) {
                emit state->lookup->finished(address);
            }
        }
        s_running.fetch_sub(1);
    }).detach();
}

HostLookup::~HostLookup()
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->lookup = nullptr;
}
