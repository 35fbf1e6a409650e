#include "arpthread.h"

#include "base/ipv4text.h"
#include "discovery/boundedbody.h"
#include "discovery/deviceprotocol.h"
#include "discovery/discoveryreports.h"
#include "discovery/neighbourbudget.h"
#include "discovery/neighbourpresence.h"
#include "discovery/neighbourshare.h"
#include "discovery/reachabilityprobe.h"
#include "discovery/replytimeout.h"
#include "discovery/sweepstate.h"
#include "platform/ipv4route.h"
#include "platform/neighbourknock.h"
#include "platform/neighbourtable.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QHostAddress>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>

namespace {

// A neighbour on the LAN answers within milliseconds: look often at first, then settle.
constexpr int kFirstLookMs = 1;
// The kernel's timers run late by tens of milliseconds under load.
constexpr qint64 kTimerSlackMs = 250;

QString macText(const QByteArray &mac)
{
    const auto *bytes = reinterpret_cast<const unsigned char *>(mac.constData());
    return QString::asprintf("%.2X-%.2X-%.2X-%.2X-%.2X-%.2X", bytes[0], bytes[1], bytes[2],
                             bytes[3], bytes[4], bytes[5]);
}

NeighbourPresence::EntryState stateOf(const NeighbourTable::Entry &entry)
{
    switch (entry.state) {
    case NeighbourTable::Entry::State::Resolving:
        return NeighbourPresence::EntryState::Resolving;
    case NeighbourTable::Entry::State::Failed:
        return NeighbourPresence::EntryState::Failed;
    case NeighbourTable::Entry::State::Holds:
        return NeighbourPresence::EntryState::Holds;
    case NeighbourTable::Entry::State::Missing:
    case NeighbourTable::Entry::State::Unknown:
        break;
    }
    return NeighbourPresence::EntryState::Missing;
}

NeighbourPresence::Timing timingOf(const NeighbourTable &table)
{
    return { table.retransmitMs(), table.requestsPerRound() };
}

// How long the kernel may keep an unanswered entry unresolved: one round of requests.
qint64 unresolvedLifetimeMs(const NeighbourTable &table)
{
    return table.requestsPerRound() * table.retransmitMs() + kTimerSlackMs;
}

} // namespace

// One address being resolved through the kernel, looked at again at nextLookMs.
struct ARPThread::Watch
{
    quint32 address = 0;
    QElapsedTimer clock;
    NeighbourPresence::Start start;
    NeighbourPresence::Progress progress;
    // An unanswered entry keeps its room in the budget until the kernel is done with it: the
    // reservation expires by itself.
    NeighbourBudget::Token token = 0;
    // The kernel's refusals before anything was sent, and the look after which a silence is
    // judged: a refusal in between may have cost the answer.
    NeighbourBudget::Mark mark;
    std::optional<quint64> silentAfterLook;
    NeighbourKnock knock;
    bool echoAnswered = false;
    qint64 nextLookMs = 0;
    int intervalMs = kFirstLookMs;
};

ARPThread::ARPThread(DiscoveryReports &reports, QVector<quint32> slice,
                     QSharedPointer<SweepState> state, bool httpProbe, int longestLookMs)
    : m_reports(reports)
    , m_slice(std::move(slice))
    , m_state(std::move(state))
    , m_httpProbe(httpProbe)
    , m_longestLookMs(longestLookMs)
{
    setStackSize(kStackSize);
}

ARPThread::~ARPThread() = default;

void ARPThread::interrupt()
{
    // A loop not entered yet returns at once when it is.
    exit(0);
}

void ARPThread::work()
{
    if (m_httpProbe) {
        runHttpProbe();
    } else {
        runArp();
    }
}

void ARPThread::report(quint32 address, const QString &macString)
{
    m_reports.hostAnswered(address, macString);
}

ARPThread::Reach ARPThread::reach(Ipv4Route &route, quint32 address) const
{
    if (!Ipv4Text::isUnicast(address)) {
        return Reach::Skip;
    }
    const Ipv4Route::Hop hop = route.to(address);
    if (m_httpProbe && m_state->isNamedRange()) {
        // A range the user named may lie behind a router: any route will do.
        return hop.kind == Ipv4Route::Kind::Unknown ? Reach::Unknown : Reach::Send;
    }
    switch (hop.kind) {
    case Ipv4Route::Kind::OnLink:
        return hop.interfaceIndex == m_state->interfaceIndex() ? Reach::Send : Reach::Lost;
    case Ipv4Route::Kind::Local:
        // This machine's own address: it has no neighbour entry, and nothing to find.
        return m_httpProbe ? Reach::Send : Reach::Skip;
    case Ipv4Route::Kind::Elsewhere:
    case Ipv4Route::Kind::Unreachable:
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

std::unique_ptr<ARPThread::Watch> ARPThread::watchFor(NeighbourTable &table, quint32 address)
{
    auto watch = std::make_unique<Watch>();
    watch->address = address;
    // What the kernel knew before anything is sent: an echo starts ARP as well.
    const NeighbourTable::Entry before = table.read(address);
    if (before.state == NeighbourTable::Entry::State::Unknown) {
        // Whether a later answer is fresh depends on it.
        m_state->failAddress();
        return nullptr;
    }
    watch->start = { stateOf(before), before.confirmedAgeMs };
    if (watch->start.state != NeighbourPresence::EntryState::Holds) {
        watch->token
            = NeighbourBudget::instance().acquire(unresolvedLifetimeMs(table), m_state->stopFlag());
        if (watch->token == 0) {
            return nullptr; // stopped while waiting for room in the neighbour table
        }
    }
    // Refusals during the wait for room are not this address's.
    watch->mark = NeighbourBudget::instance().mark();
    // The wait for room is not the neighbour's time to answer.
    watch->clock.start();
    watch->progress = NeighbourPresence::begin(watch->start, timingOf(table));
    return watch;
}

void ARPThread::runArp()
{
    Ipv4Route route;
    NeighbourTable table(m_state->interfaceIndex());
    std::vector<std::unique_ptr<Watch>> watches;
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < m_slice.size() && !m_state->isStopping(); ++i) {
        const quint32 address = m_slice.at(i);
        if (!decide(reach(route, address))) {
            continue;
        }
        if (!table.isOpen()) {
            m_state->failAddress();
            continue;
        }
        std::unique_ptr<Watch> watch = watchFor(table, address);
        if (!watch) {
            continue; // stopped, or the address could not be checked
        }
        // The wait for room in the neighbour table may have outlasted the link.
        if (const Reach now = reach(route, address); now != Reach::Send) {
            NeighbourBudget::instance().release(watch->token);
            decide(now);
            continue;
        }
        watch->echoAnswered = ReachabilityProbe::echo(address, m_state->interfaceIndex());
        watch->nextLookMs = clock.elapsed();
        watches.push_back(std::move(watch));
        // The pause after each address is spent watching the resolutions still open, so a slow
        // neighbour does not hold up the next address.
        if (i + 1 < m_slice.size()) {
            this->watch(route, table, watches, clock, clock.elapsed() + kPauseMs);
        }
    }
    this->watch(route, table, watches, clock, -1);
}

void ARPThread::watch(Ipv4Route &route, NeighbourTable &table,
                      std::vector<std::unique_ptr<Watch>> &watches, const QElapsedTimer &clock,
                      qint64 untilMs)
{
    // untilMs < 0: until every resolution is decided.
    while (!m_state->isStopping() && (untilMs >= 0 || !watches.empty())) {
        qint64 nextLook = untilMs >= 0 ? untilMs : clock.elapsed() + m_longestLookMs;
        for (auto it = watches.begin(); it != watches.end();) {
            Watch &watch = **it;
            if (watch.nextLookMs <= clock.elapsed()) {
                const Look outcome = look(route, table, watch, clock);
                if (outcome == Look::LinkLost) {
                    m_state->abandon();
                    return;
                }
                if (outcome == Look::Settled) {
                    it = watches.erase(it);
                    continue;
                }
            }
            nextLook = std::min(nextLook, watch.nextLookMs);
            ++it;
        }
        if (untilMs >= 0 && clock.elapsed() >= untilMs) {
            return;
        }
        if (!watches.empty() || untilMs >= 0) {
            m_state->pause(int(std::max<qint64>(1, nextLook - clock.elapsed())));
        }
    }
}

ARPThread::Look ARPThread::look(Ipv4Route &route, NeighbourTable &table, Watch &watch,
                                const QElapsedTimer &clock)
{
    using NeighbourPresence::Action;
    using NeighbourPresence::Verdict;
    const NeighbourTable::Entry entry = table.read(watch.address);
    if (entry.state == NeighbourTable::Entry::State::Unknown) {
        // An entry that could not be read proves nothing either way.
        m_state->failAddress();
        return Look::Settled;
    }
    const NeighbourPresence::Decision decision
        = NeighbourPresence::decide(watch.start, watch.progress,
                                    { stateOf(entry), entry.confirmedAgeMs, watch.clock.elapsed(),
                                      watch.echoAnswered, watch.knock.answered() },
                                    timingOf(table));
    if (decision.action != Action::None && reach(route, watch.address) == Reach::Lost) {
        // A knock or a new round would leave through a gateway: the link is gone.
        return Look::LinkLost;
    }
    bool failed = false;
    if (decision.action == Action::Knock) {
        failed = !watch.knock.start(watch.address, m_state->interfaceIndex());
    } else if (decision.action == Action::AskAgain) {
        failed = !NeighbourTable::trigger(watch.address, m_state->interfaceIndex());
        if (watch.progress.rounds > 0) {
            // The kernel keeps the entry unresolved for the new round.
            NeighbourBudget::instance().extend(watch.token, unresolvedLifetimeMs(table));
        }
    }
    watch.progress = decision.progress;
    if (!failed && decision.verdict == Verdict::Wait) {
        watch.nextLookMs = clock.elapsed() + watch.intervalMs;
        watch.intervalMs = std::min(watch.intervalMs * 2, m_longestLookMs);
        return Look::Pending;
    }
    if (!failed && decision.verdict == Verdict::GiveUp) {
        const std::optional<bool> refused = silenceRefused(watch);
        if (!refused) {
            watch.nextLookMs = clock.elapsed() + NeighbourShare::kLookGapMs;
            return Look::Pending;
        }
        failed = *refused;
    }
    return settle(route, watch, entry.mac, decision.verdict == Verdict::Answered, failed);
}

std::optional<bool> ARPThread::silenceRefused(Watch &watch)
{
    // A silence counts only if the kernel refused no entry meanwhile: the refused one may have
    // been the answer's.
    NeighbourBudget &budget = NeighbourBudget::instance();
    if (!watch.silentAfterLook) {
        watch.silentAfterLook = budget.mark().looks;
    }
    return budget.refusedSince(watch.mark.refusals, *watch.silentAfterLook);
}

ARPThread::Look ARPThread::settle(Ipv4Route &route, Watch &watch, const QByteArray &mac,
                                  bool answered, bool failed)
{
    if (!failed && answered) {
        NeighbourBudget::instance().release(watch.token);
        report(watch.address, macText(mac));
        m_state->finishAddress();
    } else if (reach(route, watch.address) == Reach::Lost) {
        // No answer because the swept link is gone: the sweep ends here, and says so.
        return Look::LinkLost;
    } else if (failed) {
        m_state->failAddress();
    } else {
        m_state->finishAddress();
    }
    return Look::Settled;
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

bool ARPThread::accepts(quint32 address, QEventLoop &loop)
{
    // Most addresses of a subnet are silent: they cost the probe's short limit. One that takes
    // the connection has a web server, however slow it is to answer.
    QTcpSocket socket;
    QTimer limit;
    limit.setSingleShot(true);
    connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    connect(&socket, &QTcpSocket::connected, &loop, &QEventLoop::quit);
    connect(&socket, &QTcpSocket::errorOccurred, &loop, &QEventLoop::quit);
    socket.connectToHost(QHostAddress(address), DeviceProtocol::kPort);
    limit.start(kProbeLimitMs);
    loop.exec();
    return socket.state() == QAbstractSocket::ConnectedState;
}

void ARPThread::probe(quint32 address, QEventLoop &loop)
{
    if (!accepts(address, loop)) {
        if (!m_state->isStopping()) {
            m_state->finishAddress();
        }
        return;
    }
    // A fresh manager per address keeps no connection or cache state between devices.
    QNetworkAccessManager manager;
    bool answered = false;
    connect(
        &manager, &QNetworkAccessManager::finished, this,
        [&](QNetworkReply *reply) {
            const DeviceAnswer answer = DeviceProtocol::read(reply);
            answered = true;
            if (answer.kind == DeviceAnswer::Kind::Value && !m_state->isStopping()) {
                report(address, answer.text);
            }
            loop.quit();
        },
        Qt::DirectConnection);
    QNetworkReply *reply
        = manager.get(DeviceProtocol::request(address, DeviceProtocol::macAddressPath()));
    BoundedBody::attach(reply);
    new ReplyTimeout(reply, kAnswerLimitMs);
    loop.exec();
    // A probe cut short by a stop is not finished: the stop reports the end itself, and the
    // reply dies with the manager without counting.
    manager.disconnect(this);
    if (answered && !m_state->isStopping()) {
        m_state->finishAddress();
    }
}
