#ifndef PRIVILEGE_H
#define PRIVILEGE_H

#include <string>

// The helper's one privileged act, as iputils' ping keeps it: from the first lines of main the
// helper holds CAP_NET_RAW alone, and not in effect; it is raised around the one socket() call
// that needs it and then every capability is given up for good, before an argument is read.
namespace Privilege {

// The permitted set cut to CAP_NET_RAW (when it held it), the effective set emptied.
bool limit(std::string *error);

// A packet socket that receives nothing yet (protocol 0), after which the process holds no
// capability and can gain none. -1 when the socket cannot be had (*unavailable set: no
// CAP_NET_RAW, ...) or the capabilities could not be dropped (*unavailable clear).
int openPacketSocket(bool *unavailable, std::string *error);

} // namespace Privilege

#endif // PRIVILEGE_H
