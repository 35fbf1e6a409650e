#ifndef NETLINK_LINUX_H
#define NETLINK_LINUX_H

#include "fdholder_linux.h"

#include <cstdint>
#include <functional>
#include <optional>

struct nlmsghdr;

// One rtnetlink socket of the Linux network layer: a request to the kernel and its answer. No
// privileges are needed for the reads used here (routes, neighbour entries and tables, links and
// addresses). Plain C++ without Qt, so that the ARP helper reads links and addresses with it too.
class LinuxNetlink
{
public:
    // Hands the answer to the request to a reader; the reader says whether it could use it.
    using Reader = std::function<bool(const nlmsghdr *message)>;

    LinuxNetlink();
    bool isOpen() const { return m_socket.get() >= 0; }

    enum class Result {
        Read, // the reader got the answer
        Refused, // the kernel answered with an error: there is no such object
        Failed // the kernel could not be asked, or did not answer
    };

    // Asks for one object: type is RTM_GETROUTE or RTM_GETNEIGH, header the family header that
    // follows the netlink header, attribute one address attribute (type and IPv4 address in
    // network byte order).
    Result get(unsigned short type, const void *header, int headerSize, unsigned short attribute,
               std::uint32_t networkOrderAddress, const Reader &read);
    // Asks for every object of a kind (RTM_GETNEIGH, RTM_GETNEIGHTBL, ...) and hands each one to
    // read; Read only when the kernel sent all of them and read could use each.
    Result dump(unsigned short type, const void *header, int headerSize, const Reader &read);

private:
    // Sends a request whose header is filled in but for its number.
    bool send(nlmsghdr *message);
    // The next datagram of an answer: its length, or -1 when none came in time.
    int receive(char *buffer, int size);
    // Hands each message that answers the last request to handle until it gives a result.
    using AnswerHandler = std::function<std::optional<Result>(const nlmsghdr *answer)>;
    Result answer(const AnswerHandler &handle);

    FdHolder m_socket;
    std::uint32_t m_sequence = 0;
};

#endif // NETLINK_LINUX_H
