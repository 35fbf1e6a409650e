#include "arpthread.h"

#include "discovery/boundedbody.h"
#include "discovery/deviceprotocol.h"
#include "discovery/ipv4text.h"
#include "discovery/replytimeout.h"
#include "discovery/sweepstate.h"
#include "platform/arpresolver.h"
#include "platform/ipv4route.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

// A neighbour on the LAN answers within milliseconds: look often at first, then settle.
constexpr int kFirstLookMs = 1;
constexpr int kLongestLookMs = 40;

QString macText(const QByteArray &mac)
{
    const auto *bytes = reinterpret_cast<const unsigned char *>(mac.constData());
    return QString::asprintf("%.2X-%.2X-%.2X-%.2X-%.2X-%.2X", bytes[0], bytes[1], bytes[2],
                             bytes[3], bytes[4], bytes[5]);
}

} // namespace

// An address whose ARP resolution is still open, looked at again at nextLookMs.
struct ARPThread::Pending
{
    quint32 address;
    ArpResolver::ResolutionPtr resolution;
    bool echoAnswered;
    qint64 nextLookMs;
    int intervalMs;
};

ARPThread::ARPThread(QVector<quint32> slice, QSharedPointer<SweepState> state, Echo echo,
                     bool httpProbe)
    : m_slice(std::move(slice))
    , m_state(std::move(state))
    , m_echo(std::move(echo))
    , m_httpProbe(httpProbe)
{
    setStackSize(kStackSize);
}

bool ARPThread::launch()
{
    m_launched = true;
    start(QThread::InheritPriority);
    if (isRunning() || isFinished()) {
        return true;
    }
    m_runReturned.set_value();
    return false;
}

void ARPThread::waitUntilEnded()
{
    // A worker the sweep's stop kept from starting has nothing to wait for.
    if (m_launched) {
        m_runEnded.wait();
        wait();
    }
}

void ARPThread::interrupt()
{
    // A loop not entered yet returns at once when it is.
    exit(0);
}

void ARPThread::run()
{
    if (m_httpProbe) {
        runHttpProbe();
    } else {
        runArp();
    }
    m_runReturned.set_value();
}

ARPThread::Reach ARPThread::reach(Ipv4Route &route, quint32 address) const
{
    if (!Ipv4Text::isUnicast(address)) {
        return Reach::Skip;
    }
    const Ipv4Route::Hop hop = route.to(address);
    switch (hop.kind) {
    case Ipv4Route::Kind::OnLink:
        return hop.interfaceIndex == m_state->interfaceIndex() ? Reach::Send : Reach::Lost;
    case Ipv4Route::Kind::Local:
        // This machine's own address: it has no neighbour entry, and nothing to find.
        return m_httpProbe ? Reach::Send : Reach::Skip;
    case Ipv4Route::Kind::Elsewhere:
        return Reach::Lost;
    case Ipv4Route::Kind::Unknown:
        break;
    }
    return Reach::Unknown;
}

bool ARPThread::decide(Reach reach)
{
    switch (reach) {
    case Reach::Send:
        return true;
    case Reach::Skip:
        m_state->finishAddress();
        break;
    case Reach::Lost:
        // The swept network is no longer on this link: anything sent now would leave through a
        // gateway or another interface.
        m_state->abandon();
        break;
    case Reach::Unknown:
        m_state->failAddress();
        break;
    }
    return false;
}

void ARPThread::runArp()
{
    Ipv4Route route;
    ArpResolver resolver(m_state->interfaceIndex());
    std::vector<Pending> pending;
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < m_slice.size() && !m_state->isStopping(); ++i) {
        const quint32 address = m_slice.at(i);
        if (!decide(reach(route, address))) {
            continue;
        }
        auto resolution = resolver.begin(address, m_state->stopFlag());
        if (!resolution) {
            return; // stopped while waiting for room in the neighbour table
        }
        const bool echoAnswered = m_echo(address);
        pending.push_back(
            { address, std::move(resolution), echoAnswered, clock.elapsed(), kFirstLookMs });
        // The pause after each address is spent watching the resolutions still open, so a slow
        // neighbour does not hold up the next address.
        if (i + 1 < m_slice.size()) {
            watch(route, resolver, pending, clock, clock.elapsed() + kPauseMs);
        }
    }
    watch(route, resolver, pending, clock, -1);
}

void ARPThread::watch(Ipv4Route &route, ArpResolver &resolver, std::vector<Pending> &pending,
                      const QElapsedTimer &clock, qint64 untilMs)
{
    // untilMs < 0: until every resolution is decided.
    while (!m_state->isStopping() && (untilMs >= 0 || !pending.empty())) {
        qint64 nextLook = untilMs >= 0 ? untilMs : clock.elapsed() + kLongestLookMs;
        for (auto it = pending.begin(); it != pending.end();) {
            if (it->nextLookMs > clock.elapsed()) {
                nextLook = std::min(nextLook, it->nextLookMs);
                ++it;
                continue;
            }
            QByteArray mac;
            const ArpResolver::Outcome outcome
                = resolver.poll(*it->resolution, it->echoAnswered, &mac);
            if (outcome == ArpResolver::Outcome::Pending) {
                it->nextLookMs = clock.elapsed() + it->intervalMs;
                it->intervalMs = std::min(it->intervalMs * 2, kLongestLookMs);
                nextLook = std::min(nextLook, it->nextLookMs);
                ++it;
                continue;
            }
            if (outcome == ArpResolver::Outcome::Answered) {
                emit hostFound(Ipv4Text::format(it->address), macText(mac));
            } else if (reach(route, it->address) == Reach::Lost) {
                // No answer because the swept link is gone: the sweep ends here, and says so.
                m_state->abandon();
                return;
            }
            if (outcome == ArpResolver::Outcome::Failed) {
                m_state->failAddress();
            } else {
                m_state->finishAddress();
            }
            it = pending.erase(it);
        }
        if (untilMs >= 0 && clock.elapsed() >= untilMs) {
            return;
        }
        if (!pending.empty() || untilMs >= 0) {
            m_state->pause(int(std::max<qint64>(1, nextLook - clock.elapsed())));
        }
    }
}

void ARPThread::runHttpProbe()
{
    Ipv4Route route;
    QEventLoop loop;
    for (const quint32 address : m_slice) {
        if (m_state->isStopping()) {
            return;
        }
        if (decide(reach(route, address))) {
            probe(address, loop);
        }
    }
}

void ARPThread::probe(quint32 address, QEventLoop &loop)
{
    // A fresh manager per address keeps no connection or cache state between devices.
    QNetworkAccessManager manager;
    bool answered = false;
    connect(
        &manager, &QNetworkAccessManager::finished, this,
        [&](QNetworkReply *reply) {
            const DeviceProtocol::Answer answer = DeviceProtocol::read(reply);
            answered = true;
            if (answer.kind == DeviceProtocol::Answer::Value && !m_state->isStopping()) {
                emit hostFound(Ipv4Text::format(address), answer.text);
            }
            loop.quit();
        },
        Qt::DirectConnection);
    QNetworkReply *reply
        = manager.get(DeviceProtocol::request(address, DeviceProtocol::macAddressPath()));
    BoundedBody::attach(reply);
    new ReplyTimeout(reply, kProbeLimitMs);
    loop.exec();
    // A probe cut short by a stop is not finished: the stop reports the end itself, and the
    // reply dies with the manager without counting.
    manager.disconnect(this);
    if (answered && !m_state->isStopping()) {
        m_state->finishAddress();
    }
}
