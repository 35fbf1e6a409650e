#include "privilege.h"

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

using CapabilitySets = std::array<__user_cap_data_struct, _LINUX_CAPABILITY_U32S_3>;

bool readSets(CapabilitySets *sets)
{
    __user_cap_header_struct header { _LINUX_CAPABILITY_VERSION_3, 0 };
    return ::syscall(SYS_capget, &header, sets->data()) == 0;
}

bool writeSets(const CapabilitySets &sets)
{
    __user_cap_header_struct header { _LINUX_CAPABILITY_VERSION_3, 0 };
    return ::syscall(SYS_capset, &header, sets.data()) == 0;
}

bool holdsNetRaw()
{
    CapabilitySets sets {};
    return readSets(&sets)
        && (sets[CAP_TO_INDEX(CAP_NET_RAW)].permitted & CAP_TO_MASK(CAP_NET_RAW)) != 0;
}

// CAP_NET_RAW alone: permitted when held, in effect as well when raised.
CapabilitySets netRawOnly(bool held, bool raised)
{
    CapabilitySets sets {};
    const auto bit = std::uint32_t(CAP_TO_MASK(CAP_NET_RAW));
    sets[CAP_TO_INDEX(CAP_NET_RAW)].permitted = held ? bit : 0;
    sets[CAP_TO_INDEX(CAP_NET_RAW)].effective = held && raised ? bit : 0;
    return sets;
}

std::string systemError(const char *what, int error)
{
    return std::string(what) + ": " + std::strerror(error);
}

bool dropAll(std::string *error)
{
    if (!writeSets(CapabilitySets {})) {
        *error = systemError("capset", errno);
        return false;
    }
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) {
        *error = systemError("no_new_privs", errno);
        return false;
    }
    // Trust, but verify: a capability left here would outlive every request.
    CapabilitySets left {};
    if (!readSets(&left)) {
        *error = systemError("capget", errno);
        return false;
    }
    for (const __user_cap_data_struct &set : left) {
        if (set.effective || set.permitted || set.inheritable) {
            *error = "capabilities left after capset";
            return false;
        }
    }
    return true;
}

} // namespace

namespace Privilege {

bool limit(std::string *error)
{
    if (!writeSets(netRawOnly(holdsNetRaw(), false))) {
        *error = systemError("capset", errno);
        return false;
    }
    return true;
}

int openPacketSocket(bool *unavailable, std::string *error)
{
    const bool held = holdsNetRaw();
    // The privileged span. Without the capability the raise does nothing and socket() says why.
    writeSets(netRawOnly(held, true));
    const int fd = ::socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    const int socketError = errno;
    const bool dropped = dropAll(error);
    // End of the privileged span.
    *unavailable = fd < 0;
    if (fd < 0) {
        *error = systemError("packet socket (needs CAP_NET_RAW)", socketError);
    } else if (!dropped) {
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace Privilege
