#ifndef HELPERSESSION_H
#define HELPERSESSION_H

#include "arplink.h"
#include "heardfilter.h"
#include "platform/linkwatch_linux.h"
#include "ratelimiter.h"
#include "sendqueue.h"

#include <cstdint>
#include <optional>
#include <string>

// The helper's life once its privileges are gone: requests from standard input, frames out at
// the allowed rate while the link is still its own, a line on standard output for each answer
// and for what it hears. Every wait is one poll over the input, the socket, the output, the
// kernel's link notices and the rate timer, and every buffer has a bound, so neither a slow
// reader, nor a fast writer, nor a chatty link can stall it or grow it. It runs until its input
// ends, however long that is.
class HelperSession
{
public:
    // Words that open an error line, saying what kind of failure follows.
    static constexpr const char *kRefused = "refused"; // arguments or a request it will not serve
    static constexpr const char *kUnavailable = "unavailable"; // no packet socket here
    static constexpr const char *kLost = "lost"; // the link is no longer its to speak for
    static constexpr const char *kFailed = "failed"; // a system call failed

    HelperSession(ArpLink::Link link, LinkWatch watch);
    // Until standard input ends, standard output is gone or the link is lost; the exit status.
    int run();

private:
    void step();
    void readInput();
    void takeRequests();
    void queue(std::uint32_t first, std::uint32_t last);
    void sendDue(std::int64_t now);
    bool confirmOwnership();
    // An error on the packet socket: "lost" when the link is, "failed" otherwise.
    void failOnLink(const std::string &error);
    void readFrames();
    void take(const std::uint8_t *frame, std::size_t length, std::int64_t now);
    void writeOutput();
    void report(const std::string &line);
    void finish(int status, const char *kind = nullptr, const std::string &error = std::string());
    // What is still unwritten, as far as the reader takes it within timeoutMs.
    void drainOutput(int timeoutMs);

    const ArpLink::Link m_link;
    LinkWatch m_watch;
    SendQueue m_queue;
    RateLimiter m_limiter;
    HeardFilter m_heard;
    std::string m_input;
    std::string m_output;
    std::int64_t m_retryAt = 0;
    std::uint64_t m_lineNumber = 0;
    bool m_busy = false; // requests were queued since the last "idle"
    bool m_owned = false; // the link was confirmed as ours since the last "idle"
    std::optional<int> m_exitStatus;
};

#endif // HELPERSESSION_H
