// lumisweep-arp: sends ARP requests on behalf of the unprivileged Lumisweep and reports who
// answers, so that the program sees every host of a link, also two on one address and those set
// to another subnet, without the kernel's neighbour table in between.
//
//   lumisweep-arp IFNAME SOURCE_IPV4
//
// Its one privilege, CAP_NET_RAW from a file capability, opens one packet socket on IFNAME;
// then it drops every capability before reading anything. Requests come on standard input (see
// arprequest.h); reports go to standard output, a line each:
//   ready MAC IPV4     the socket is open, the capabilities are gone
//   reply IPV4 MAC     an ARP reply addressed to us, with its sender's addresses
//   heard IPV4 MAC     a broadcast ARP frame of another host, with its sender's addresses
//   idle               every request queued so far has been sent
//   error TEXT         then it exits non-zero
// A pair is reported once per kind. Exit status: 0 at the end of standard input or when standard
// output is gone; 1 when the link cannot be had (no capability, interface gone); 2 for arguments
// or a request it refuses.

#include "arplink.h"
#include "arprequest.h"
#include "helpersession.h"

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/prctl.h>
#include <unistd.h>
#include <utility>

namespace {

int refuse(int status, const std::string &error)
{
    std::printf("error %s\n", error.c_str());
    std::fflush(stdout);
    return status;
}

} // namespace

int main(int argc, char *argv[])
{
    // A descriptor 0 to 2 left closed by the caller would otherwise be the packet socket, and a
    // report written to it a frame on the link.
    for (;;) {
        const int fd = ::open("/dev/null", O_RDWR | O_CLOEXEC);
        if (fd < 0) {
            return 1;
        }
        if (fd > STDERR_FILENO) {
            ::close(fd);
            break;
        }
    }
    std::signal(SIGPIPE, SIG_IGN);
    // The default 50 us of timer slack would bunch frames that are meant to go 500 us apart.
    ::prctl(PR_SET_TIMERSLACK, 1000UL, 0, 0, 0);

    if (argc != 3) {
        return refuse(2, "usage: lumisweep-arp IFNAME SOURCE_IPV4");
    }
    const std::optional<std::uint32_t> source = ArpRequest::parseIpv4(argv[2]);
    if (!source) {
        return refuse(2, "the source is not an IPv4 address");
    }
    ArpLink::Link link;
    std::string error;
    switch (ArpLink::open(argv[1], *source, &link, &error)) {
    case ArpLink::Status::Ok:
        break;
    case ArpLink::Status::Refused:
        return refuse(2, error);
    case ArpLink::Status::Unavailable:
        return refuse(1, error);
    }
    if (!ArpLink::dropPrivileges(&error)) {
        return refuse(1, error);
    }
    return HelperSession(std::move(link), *source).run();
}
