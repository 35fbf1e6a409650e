// lumisweep-arp: sends ARP requests on behalf of the unprivileged Lumisweep and reports who
// answers, so that the program sees every host of a link, also two on one address and those set
// to another subnet, without the kernel's neighbour table in between.
//
//   lumisweep-arp IFNAME SOURCE_IPV4
//
// Its one privilege, CAP_NET_RAW from a file capability, opens one packet socket; then it drops
// every capability for good, before it reads its arguments. Requests come on standard input (see
// arprequest.h); reports go to standard output, a line each:
//   ready MAC IPV4     the socket is open on IFNAME, the capabilities are gone
//   reply IPV4 MAC     an answer to one of our requests: a reply to our MAC and SOURCE_IPV4 from
//                      an address we asked within the last 10 s; each MAC once per request
//   heard IPV4 MAC     another host's ARP frame that is not such an answer: a request, an
//                      announcement, a reply to someone else. A probe (sender 0.0.0.0) is heard
//                      as the address it claims, its target. Each pair once per 10 s, and at most
//                      100 such lines a second
//   idle               every request queued so far has been sent
//   error KIND TEXT    then it exits; KIND is one of
//                      refused      the arguments or a request it will not serve (status 2)
//                      unavailable  no packet socket here: no CAP_NET_RAW, ... (status 1)
//                      lost         SOURCE_IPV4 left IFNAME, its MAC changed, or it went down or
//                                   away; at once, also while idle (status 1)
//                      failed       a system call failed (status 1)
// Bounds, whoever drives it: frames only from the interface's own MAC and SOURCE_IPV4, broadcast
// requests only, never more than 2,000 in any second; at most 65,536 distinct addresses a run,
// and at most three requests to one address in any 10 s. Exit status 0 at the end of standard
// input or when standard output is gone.

#include "arplink.h"
#include "arprequest.h"
#include "helpersession.h"
#include "platform/linkwatch_linux.h"
#include "privilege.h"

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/prctl.h>
#include <unistd.h>
#include <utility>

namespace {

int refuse(int status, const char *kind, const std::string &error)
{
    std::printf("error %s %s\n", kind, error.c_str());
    std::fflush(stdout);
    return status;
}

// A descriptor 0 to 2 left closed by the caller would otherwise be the packet socket, and a
// report written to it a frame on the link.
bool openStandardDescriptors()
{
    for (;;) {
        const int fd = ::open("/dev/null", O_RDWR | O_CLOEXEC);
        if (fd < 0) {
            return false;
        }
        if (fd > STDERR_FILENO) {
            ::close(fd);
            return true;
        }
    }
}

} // namespace

int main(int argc, char *argv[])
{
    // Before anything else: a process of the same user must not read this one's memory or take
    // its socket (pidfd_getfd), also when the exec gained nothing because the parent held
    // CAP_NET_RAW already and the kernel left the process dumpable.
    ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
    std::string error;
    if (!Privilege::limit(&error) || !openStandardDescriptors()) {
        return refuse(1, HelperSession::kFailed, error.empty() ? "standard descriptors" : error);
    }
    bool unavailable = false;
    FdHolder packet(Privilege::openPacketSocket(&unavailable, &error));
    if (packet.get() < 0) {
        return refuse(1, unavailable ? HelperSession::kUnavailable : HelperSession::kFailed, error);
    }

    // No capability from here on.
    std::signal(SIGPIPE, SIG_IGN);
    // The default 50 us of timer slack would bunch frames that are meant to go 500 us apart.
    ::prctl(PR_SET_TIMERSLACK, 1000UL, 0, 0, 0);
    if (argc != 3) {
        return refuse(2, HelperSession::kRefused, "usage: lumisweep-arp IFNAME SOURCE_IPV4");
    }
    const std::optional<std::uint32_t> source = ArpRequest::parseIpv4(argv[2]);
    if (!source) {
        return refuse(2, HelperSession::kRefused, "the source is not an IPv4 address");
    }
    LinkWatch watch;
    ArpLink::Link link;
    switch (ArpLink::open(std::move(packet), argv[1], *source, &watch, &link, &error)) {
    case ArpLink::Status::Ok:
        break;
    case ArpLink::Status::Refused:
        return refuse(2, HelperSession::kRefused, error);
    case ArpLink::Status::Unavailable:
        return refuse(1, HelperSession::kUnavailable, error);
    }
    return HelperSession(std::move(link), std::move(watch)).run();
}
