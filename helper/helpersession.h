#ifndef HELPERSESSION_H
#define HELPERSESSION_H

#include "arplink.h"
#include "ratelimiter.h"
#include "reportfilter.h"
#include "sendqueue.h"

#include <cstdint>
#include <optional>
#include <string>

// The helper's life once its privileges are gone: requests from standard input, frames out at
// the allowed rate, a line on standard output for each new answer. Every wait is one poll over
// the input, the socket, the output and the rate timer, and every buffer has a bound, so neither
// a slow reader, nor a fast writer, nor a chatty link can stall it or grow it.
class HelperSession
{
public:
    HelperSession(ArpLink::Link link, std::uint32_t source);
    // Until standard input ends or standard output is gone; the process's exit status.
    int run();

private:
    void readInput();
    void takeRequests();
    void sendDue(std::int64_t now);
    void readFrames();
    void writeOutput();
    void report(const std::string &line);
    void finish(int status, const std::string &error = std::string());
    // What is still unwritten, as far as the reader takes it within timeoutMs.
    void drainOutput(int timeoutMs);

    const ArpLink::Link m_link;
    const std::uint32_t m_source;
    SendQueue m_queue;
    RateLimiter m_limiter;
    ReportFilter m_reported;
    std::string m_input;
    std::string m_output;
    std::int64_t m_retryAt = 0;
    std::uint64_t m_lineNumber = 0;
    bool m_busy = false; // requests were queued since the last "idle"
    std::optional<int> m_exitStatus;
};

#endif // HELPERSESSION_H
