#include "netlink_linux.h"

#include <cerrno>
#include <cstring>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <poll.h>
#include <sys/socket.h>

namespace {

// The kernel answers a get from its own tables at once; this only bounds a kernel that does not.
constexpr int kReplyTimeoutMs = 200;
constexpr int kMaxRequestSize = 128;
// The kernel sizes the parts of a dump to the reader's buffer, from one page up.
constexpr int kBufferSize = 8192;

} // namespace

LinuxNetlink::LinuxNetlink()
    : m_socket(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE))
{
}

LinuxNetlink::Result LinuxNetlink::get(unsigned short type, const void *header, int headerSize,
                                       unsigned short attribute, std::uint32_t networkOrderAddress,
                                       const Reader &read)
{
    if (!isOpen() || NLMSG_LENGTH(headerSize) + RTA_LENGTH(4) > kMaxRequestSize) {
        return Result::Failed;
    }
    alignas(nlmsghdr) char request[kMaxRequestSize] = {};
    auto *message = reinterpret_cast<nlmsghdr *>(request);
    message->nlmsg_len = NLMSG_LENGTH(headerSize);
    message->nlmsg_type = type;
    message->nlmsg_flags = NLM_F_REQUEST;
    std::memcpy(NLMSG_DATA(message), header, size_t(headerSize));
    auto *rta = reinterpret_cast<rtattr *>(request + NLMSG_ALIGN(message->nlmsg_len));
    rta->rta_type = attribute;
    rta->rta_len = RTA_LENGTH(sizeof(networkOrderAddress));
    std::memcpy(RTA_DATA(rta), &networkOrderAddress, sizeof(networkOrderAddress));
    message->nlmsg_len = NLMSG_ALIGN(message->nlmsg_len) + RTA_ALIGN(rta->rta_len);

    if (!send(message)) {
        return Result::Failed;
    }
    return answer([&read](const nlmsghdr *reply) -> std::optional<Result> {
        if (reply->nlmsg_type == NLMSG_ERROR) {
            return Result::Refused;
        }
        return read(reply) ? Result::Read : Result::Failed;
    });
}

LinuxNetlink::Result LinuxNetlink::dump(unsigned short type, const void *header, int headerSize,
                                        const Reader &read)
{
    if (!isOpen() || NLMSG_LENGTH(headerSize) > kMaxRequestSize) {
        return Result::Failed;
    }
    alignas(nlmsghdr) char request[kMaxRequestSize] = {};
    auto *message = reinterpret_cast<nlmsghdr *>(request);
    message->nlmsg_len = NLMSG_LENGTH(headerSize);
    message->nlmsg_type = type;
    message->nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    std::memcpy(NLMSG_DATA(message), header, size_t(headerSize));
    if (!send(message)) {
        return Result::Failed;
    }
    bool usable = true;
    return answer([&read, &usable](const nlmsghdr *reply) -> std::optional<Result> {
        if (reply->nlmsg_type == NLMSG_DONE) {
            return usable ? Result::Read : Result::Failed;
        }
        if (reply->nlmsg_type == NLMSG_ERROR) {
            return Result::Failed;
        }
        // The rest of the answer is read all the same, so that it does not wait in the socket
        // for the next request.
        usable = read(reply) && usable;
        return std::nullopt;
    });
}

LinuxNetlink::Result LinuxNetlink::answer(const AnswerHandler &handle)
{
    alignas(nlmsghdr) char buffer[kBufferSize];
    for (;;) {
        const int length = receive(buffer, sizeof(buffer));
        if (length < 0) {
            return Result::Failed;
        }
        int remaining = length;
        // Answers to earlier requests that timed out may still arrive; only ours counts.
        for (auto *message = reinterpret_cast<nlmsghdr *>(buffer); NLMSG_OK(message, remaining);
             message = NLMSG_NEXT(message, remaining)) {
            if (message->nlmsg_seq != m_sequence) {
                continue;
            }
            if (const std::optional<Result> result = handle(message)) {
                return *result;
            }
        }
    }
}

bool LinuxNetlink::send(nlmsghdr *message)
{
    message->nlmsg_seq = ++m_sequence;
    sockaddr_nl kernel {};
    kernel.nl_family = AF_NETLINK;
    return ::sendto(m_socket.get(), message, message->nlmsg_len, 0,
                    reinterpret_cast<sockaddr *>(&kernel), sizeof(kernel))
        >= 0;
}

int LinuxNetlink::receive(char *buffer, int size)
{
    for (;;) {
        pollfd waiter { m_socket.get(), POLLIN, 0 };
        if (::poll(&waiter, 1, kReplyTimeoutMs) <= 0) {
            return -1;
        }
        const ssize_t length = ::recv(m_socket.get(), buffer, size_t(size), 0);
        if (length >= 0) {
            return int(length);
        }
        if (errno != EINTR) {
            return -1;
        }
    }
}
