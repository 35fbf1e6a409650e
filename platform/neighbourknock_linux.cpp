#include "neighbourknock.h"

#include "fdholder_linux.h"
#include "interfacebinding_linux.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

namespace {

constexpr quint16 kKnockPort = 80;
constexpr quint16 kDiscardPort = 9;

} // namespace

struct NeighbourKnock::Sockets
{
    FdHolder stream;
    FdHolder datagram;
};

NeighbourKnock::NeighbourKnock() = default;

NeighbourKnock::~NeighbourKnock() = default;

bool NeighbourKnock::isStarted() const
{
    return m_sockets != nullptr;
}

bool NeighbourKnock::start(quint32 address, int interfaceIndex)
{
    auto sockets = std::make_unique<Sockets>();
    sockets->stream = FdHolder(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    sockets->datagram = FdHolder(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (sockets->stream.get() < 0 || sockets->datagram.get() < 0
        || !bindToInterface(sockets->stream.get(), interfaceIndex)
        || !bindToInterface(sockets->datagram.get(), interfaceIndex)) {
        return false;
    }
    sockaddr_in target {};
    target.sin_family = AF_INET;
    target.sin_addr.s_addr = htonl(address);
    target.sin_port = htons(kKnockPort);
    ::connect(sockets->stream.get(), reinterpret_cast<sockaddr *>(&target), sizeof(target));
    target.sin_port = htons(kDiscardPort);
    if (::connect(sockets->datagram.get(), reinterpret_cast<sockaddr *>(&target), sizeof(target))
        == 0) {
        const char byte = 0;
        ::send(sockets->datagram.get(), &byte, 1, MSG_DONTWAIT);
    }
    m_sockets = std::move(sockets);
    return true;
}

bool NeighbourKnock::answered() const
{
    if (!m_sockets) {
        return false;
    }
    // A completed handshake and a reset both come from the host itself.
    pollfd stream { m_sockets->stream.get(), POLLOUT, 0 };
    if (::poll(&stream, 1, 0) > 0) {
        int error = 0;
        socklen_t size = sizeof(error);
        ::getsockopt(m_sockets->stream.get(), SOL_SOCKET, SO_ERROR, &error, &size);
        if (error == 0 || error == ECONNREFUSED) {
            return true;
        }
    }
    char byte = 0;
    return ::recv(m_sockets->datagram.get(), &byte, 1, MSG_DONTWAIT) < 0 && errno == ECONNREFUSED;
}
