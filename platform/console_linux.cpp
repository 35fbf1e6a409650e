#include "console.h"

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Written by the handler, read by the event loop: the only thing a signal handler may safely do.
int s_signalPipe[2] = { -1, -1 };

void onInterrupt(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(s_signalPipe[1], &byte, 1);
}

} // namespace

namespace Console {

bool errorIsTerminal()
{
    return ::isatty(STDERR_FILENO) == 1;
}

int catchInterrupts()
{
    if (s_signalPipe[0] < 0 && ::pipe2(s_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        return -1;
    }
    struct sigaction action = {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
    return s_signalPipe[0];
}

void drainInterrupts()
{
    char bytes[16];
    while (s_signalPipe[0] >= 0 && ::read(s_signalPipe[0], bytes, sizeof(bytes)) > 0) { }
}

int outputPipe()
{
    struct stat status = {};
    return ::fstat(STDOUT_FILENO, &status) == 0 && S_ISFIFO(status.st_mode) ? STDOUT_FILENO : -1;
}

bool outputGone()
{
    pollfd output { STDOUT_FILENO, POLLOUT, 0 };
    return ::poll(&output, 1, 0) == 1 && (output.revents & (POLLERR | POLLHUP)) != 0;
}

} // namespace Console
