#include "helpersession.h"

#include "arprequest.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <linux/if_packet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr std::size_t kMaxInput = 4096;
// Beyond this much unwritten output the helper neither reads frames nor sends: answers it could
// not report would be lost anyway, and the reader may be slow.
constexpr std::size_t kMaxOutput = 65536;
constexpr int kFramesPerWake = 64;
constexpr std::int64_t kSendRetryNs = 1000000;
// How long an error line may wait for the reader before the helper exits without it.
constexpr int kErrorDrainMs = 1000;

std::int64_t monotonicNs()
{
    timespec now {};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return std::int64_t(now.tv_sec) * 1000000000 + now.tv_nsec;
}

} // namespace

HelperSession::HelperSession(ArpLink::Link link, LinkWatch watch)
    : m_link(std::move(link))
    , m_watch(std::move(watch))
    , m_limiter(RateLimiter::kFrameIntervalNs, RateLimiter::kFrameBurst, monotonicNs())
    , m_heard(monotonicNs())
{
}

int HelperSession::run()
{
    report("ready " + ArpFrame::formatMac(m_link.mac) + ' '
           + ArpRequest::formatIpv4(m_link.source));
    while (!m_exitStatus) {
        step();
    }
    // Whoever ended the input is done with the reports; an error, though, should be read.
    drainOutput(m_exitStatus == 0 ? 0 : kErrorDrainMs);
    return *m_exitStatus;
}

void HelperSession::step()
{
    takeRequests();
    const std::int64_t now = monotonicNs();
    const bool outputFull = m_output.size() >= kMaxOutput;
    if (!outputFull) {
        sendDue(now);
    }
    if (m_busy && m_queue.isEmpty() && !m_exitStatus) {
        m_busy = false;
        m_owned = false;
        report("idle");
    }
    if (m_exitStatus) {
        return;
    }
    const bool reading = !m_queue.isLong() && m_input.size() < kMaxInput;
    // Events 0 on standard input still reports the writer's hang-up, which ends the session
    // even while the queue is too long to read more.
    pollfd waits[] = { { STDIN_FILENO, short(reading ? POLLIN : 0), 0 },
                       { m_link.socket.get(), short(outputFull ? 0 : POLLIN), 0 },
                       { STDOUT_FILENO, short(m_output.empty() ? 0 : POLLOUT), 0 },
                       { m_watch.noticeSocket(), POLLIN, 0 } };
    timespec timeout {};
    const timespec *timer = nullptr;
    if (!outputFull && !m_queue.isEmpty()) {
        const std::int64_t wait = std::max(m_limiter.wait(now), m_retryAt - now);
        timeout = { time_t(wait / 1000000000), long(wait % 1000000000) };
        timer = &timeout;
    }
    if (::ppoll(waits, 4, timer, nullptr) < 0) {
        if (errno != EINTR) {
            finish(1, kFailed, std::string("poll: ") + std::strerror(errno));
        }
        return;
    }
    // The link first: nothing more is read or written for an address that is no longer ours.
    if (waits[3].revents && m_watch.takeNotices(m_link.index)) {
        confirmOwnership();
    }
    if (waits[2].revents & POLLOUT) {
        writeOutput();
    } else if (waits[2].revents) {
        finish(0); // the reader is gone
    }
    if (waits[1].revents & (POLLERR | POLLNVAL)) {
        int error = 0;
        socklen_t size = sizeof(error);
        ::getsockopt(m_link.socket.get(), SOL_SOCKET, SO_ERROR, &error, &size);
        failOnLink(std::string("link: ") + std::strerror(error ? error : EIO));
    } else if (waits[1].revents & POLLIN) {
        readFrames();
    }
    if (waits[0].revents & POLLIN) {
        readInput();
    } else if (waits[0].revents) {
        finish(0);
    }
}

void HelperSession::readInput()
{
    char buffer[kMaxInput];
    const ssize_t length = ::read(STDIN_FILENO, buffer, kMaxInput - m_input.size());
    if (length > 0) {
        m_input.append(buffer, std::size_t(length));
    } else if (length == 0 || (errno != EINTR && errno != EAGAIN)) {
        finish(0);
    }
}

void HelperSession::takeRequests()
{
    while (!m_exitStatus && !m_queue.isLong()) {
        const std::size_t end = m_input.find('\n');
        if (end == std::string::npos) {
            if (m_input.size() >= ArpRequest::kMaxLineLength) {
                finish(2, kRefused, "request " + std::to_string(m_lineNumber + 1) + " is too long");
            }
            return;
        }
        ++m_lineNumber;
        const std::optional<ArpRequest::Request> request
            = ArpRequest::parse(std::string_view(m_input).substr(0, end));
        m_input.erase(0, end + 1);
        if (!request) {
            finish(2, kRefused, "request " + std::to_string(m_lineNumber) + " is malformed");
            return;
        }
        queue(request->first, request->last);
    }
}

void HelperSession::queue(std::uint32_t first, std::uint32_t last)
{
    std::uint32_t culprit = 0;
    const std::string request = "request " + std::to_string(m_lineNumber);
    switch (m_queue.add(first, last, monotonicNs(), &culprit)) {
    case SendQueue::Added::Queued:
        m_busy = true;
        break;
    case SendQueue::Added::TooManyTargets:
        finish(2, kRefused,
               request + " asks more than " + std::to_string(SendQueue::kMaxTargets)
                   + " addresses in one run");
        break;
    case SendQueue::Added::TooManyRequests:
        finish(2, kRefused,
               request + " asks " + ArpRequest::formatIpv4(culprit) + " more than "
                   + std::to_string(SendQueue::kMaxRequests) + " times in "
                   + std::to_string(SendQueue::kWindowNs / 1000000000) + " s");
        break;
    }
}

void HelperSession::sendDue(std::int64_t now)
{
    if (m_queue.isEmpty() || now < m_retryAt || m_limiter.wait(now) > 0) {
        return;
    }
    // Before each batch (what goes out between two "idle"), and whenever the kernel has told of
    // a change to the link or its addresses since: a frame for an address that moved to another
    // host, or with a MAC the interface no longer has, would mislead every host that hears it.
    const bool changed = m_watch.takeNotices(m_link.index);
    if ((changed || !m_owned) && !confirmOwnership()) {
        return;
    }
    while (!m_exitStatus && !m_queue.isEmpty() && now >= m_retryAt && m_limiter.take(now)) {
        const auto frame = ArpFrame::request(m_link.mac, m_link.source, m_queue.front());
        const ssize_t sent = ::send(m_link.socket.get(), frame.data(), frame.size(), MSG_DONTWAIT);
        if (sent == ssize_t(frame.size())) {
            m_queue.pop(now);
        } else if (sent < 0 && (errno == EAGAIN || errno == ENOBUFS || errno == EINTR)) {
            m_retryAt = now + kSendRetryNs; // the device queue is full: the frame waits
        } else {
            failOnLink(std::string("send: ") + (sent < 0 ? std::strerror(errno) : "short frame"));
        }
    }
}

bool HelperSession::confirmOwnership()
{
    const std::optional<std::string> lost = ArpLink::lostBecause(m_link, &m_watch);
    if (lost) {
        finish(1, kLost, *lost);
    }
    m_owned = !lost;
    return m_owned;
}

void HelperSession::failOnLink(const std::string &error)
{
    // The kernel fails a send as soon as the interface is going down, before it tells of the
    // change: the reader must learn that the link is gone, not that the helper broke.
    const std::optional<std::string> lost = ArpLink::lostBecause(m_link, &m_watch);
    finish(1, lost ? kLost : kFailed, lost ? *lost : error);
}

void HelperSession::readFrames()
{
    const std::int64_t now = monotonicNs();
    for (int i = 0; i < kFramesPerWake && !m_exitStatus && m_output.size() < kMaxOutput; ++i) {
        std::uint8_t frame[ArpFrame::kLength];
        sockaddr_ll from {};
        socklen_t fromSize = sizeof(from);
        const ssize_t length = ::recvfrom(m_link.socket.get(), frame, sizeof(frame), MSG_DONTWAIT,
                                          reinterpret_cast<sockaddr *>(&from), &fromSize);
        if (length < 0) {
            if (errno != EAGAIN && errno != EINTR) {
                failOnLink(std::string("receive: ") + std::strerror(errno));
            }
            return;
        }
        if (from.sll_pkttype != PACKET_OUTGOING) {
            take(frame, std::size_t(length), now);
        }
    }
}

void HelperSession::take(const std::uint8_t *frame, std::size_t length, std::int64_t now)
{
    ArpFrame::Sender sender;
    const ArpFrame::Kind kind
        = ArpFrame::classify(frame, length, m_link.mac, m_link.source, &sender);
    if (kind == ArpFrame::Kind::Ignored) {
        return;
    }
    const SendQueue::Answer answer = kind == ArpFrame::Kind::Reply
        ? m_queue.answerFrom(sender.address, sender.mac, now)
        : SendQueue::Answer::NotOurs;
    const bool heard
        = answer == SendQueue::Answer::NotOurs && m_heard.admit(sender.address, sender.mac, now);
    if (answer == SendQueue::Answer::New || heard) {
        report(std::string(heard ? "heard " : "reply ") + ArpRequest::formatIpv4(sender.address)
               + ' ' + ArpFrame::formatMac(sender.mac));
    }
}

void HelperSession::writeOutput()
{
    // Whole lines, at most PIPE_BUF bytes: after POLLOUT such a write to a pipe neither blocks
    // nor interleaves.
    std::size_t size = std::min(m_output.size(), std::size_t(PIPE_BUF));
    size = m_output.rfind('\n', size - 1) + 1;
    const ssize_t written = ::write(STDOUT_FILENO, m_output.data(), size);
    if (written > 0) {
        m_output.erase(0, std::size_t(written));
    } else if (written < 0 && errno != EINTR && errno != EAGAIN) {
        m_output.clear(); // nobody is listening any more
        finish(0);
    }
}

void HelperSession::report(const std::string &line)
{
    m_output += line;
    m_output += '\n';
}

void HelperSession::finish(int status, const char *kind, const std::string &error)
{
    if (m_exitStatus) {
        return;
    }
    m_exitStatus = status;
    if (kind) {
        report(std::string("error ") + kind + ' ' + error);
    }
}

void HelperSession::drainOutput(int timeoutMs)
{
    const std::int64_t deadline = monotonicNs() + std::int64_t(timeoutMs) * 1000000;
    while (!m_output.empty()) {
        const std::int64_t left = std::max<std::int64_t>(0, (deadline - monotonicNs()) / 1000000);
        pollfd waiter { STDOUT_FILENO, POLLOUT, 0 };
        if (::poll(&waiter, 1, int(left)) <= 0 || !(waiter.revents & POLLOUT)) {
            return;
        }
        writeOutput();
    }
}
