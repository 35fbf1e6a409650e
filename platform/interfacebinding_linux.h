#ifndef INTERFACEBINDING_LINUX_H
#define INTERFACEBINDING_LINUX_H

#include <cerrno>
#include <cstring>
#include <net/if.h>
#include <sys/socket.h>

// Keeps what a socket of a sweep sends on the swept interface. Should the interface go away
// between the sweep's route check and the send, the send fails instead of leaving through the
// default route. False when the interface is gone; kernels before 5.7 let only privileged
// programs bind, and there the socket stays unbound, as it was.
inline bool bindToInterface(int fd, int interfaceIndex)
{
    if (interfaceIndex <= 0) {
        return true;
    }
    char name[IF_NAMESIZE] = {};
    if (!::if_indextoname(unsigned(interfaceIndex), name)) {
        return false;
    }
    return ::setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, name, socklen_t(std::strlen(name))) == 0
        || errno == EPERM;
}

#endif // INTERFACEBINDING_LINUX_H
