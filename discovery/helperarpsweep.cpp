#include "helperarpsweep.h"

#include "base/ipv4text.h"
#include "discovery/discoveryreports.h"
#include "discovery/sweepstate.h"

#include <QDebug>

#include <algorithm>

namespace {

QString macText(const QByteArray &mac)
{
    return QString::fromLatin1(mac.toHex('-').toUpper());
}

} // namespace

HelperArpSweep::HelperArpSweep(DiscoveryReports &reports, QVector<quint32> addresses,
                               quint32 subnetFirst, quint32 subnetLast,
                               QSharedPointer<SweepState> state)
    : m_reports(reports)
    , m_addresses(std::move(addresses))
    , m_subnetFirst(subnetFirst)
    , m_subnetLast(subnetLast)
    , m_state(std::move(state))
    , m_asked(m_addresses.size(), Asked::Not)
    , m_firstAskedMs(m_addresses.size(), 0)
{
    m_wake.setSingleShot(true);
    connect(&m_wake, &QTimer::timeout, this, &HelperArpSweep::pump);
}

HelperArpSweep::~HelperArpSweep()
{
    stop();
}

void HelperArpSweep::start(const QString &helperPath, const QString &interfaceName, quint32 source)
{
    m_engine = new ArpEngine(this);
    m_ownsEngine = true;
    if (!helperPath.isEmpty()) {
        m_engine->setHelperPath(helperPath);
    }
    m_helperPath = helperPath.isEmpty() ? ArpEngine::defaultHelperPath() : helperPath;
    connect(m_engine, &ArpEngine::ready, this, [this, source] { begin(source); });
    attach();
    m_engine->start(interfaceName, source);
}

void HelperArpSweep::run(ArpEngine *engine, quint32 source)
{
    m_engine = engine;
    attach();
    begin(source);
}

void HelperArpSweep::attach()
{
    connect(m_engine, &ArpEngine::replied, this, &HelperArpSweep::onReplied);
    connect(m_engine, &ArpEngine::heard, this, &HelperArpSweep::onHeard);
    connect(m_engine, &ArpEngine::failed, this, &HelperArpSweep::onFailed);
    connect(m_engine, &ArpEngine::idle, this, &HelperArpSweep::onIdle);
}

void HelperArpSweep::begin(quint32 source)
{
    m_running = true;
    // The sweep is the helper's now: its end, reported by its last address in this thread,
    // ends the helper too. (Without the helper the kernel's workers end it, in theirs.)
    connect(m_state.data(), &SweepState::ended, this, &HelperArpSweep::stop, Qt::DirectConnection);
    m_clock.start();
    // This machine's own address has nothing to answer.
    for (int i = 0; i < m_addresses.size(); ++i) {
        if (m_addresses.at(i) == source || !Ipv4Text::isUnicast(m_addresses.at(i))) {
            finish(i);
        }
    }
    emit ready(m_helperPath);
    pump();
}

void HelperArpSweep::stop()
{
    m_running = false;
    m_wake.stop();
    if (m_engine && m_ownsEngine) {
        m_engine->stop();
    } else if (m_engine) {
        // Another's session goes on without this sweep.
        m_engine->disconnect(this);
        m_engine = nullptr;
    }
}

void HelperArpSweep::pump()
{
    if (!m_running || m_state->isStopping()) {
        return;
    }
    const qint64 now = m_clock.elapsed();
    if (!giveUpSilent(now)) {
        return; // that was the last address, and the sweep has ended
    }
    QVector<int> batch;
    while (!m_batchOut && batch.size() < kBatch && !m_secondRequests.empty()
           && m_secondRequests.front().atMs <= now) {
        const int index = m_secondRequests.front().index;
        m_secondRequests.pop_front();
        if (m_asked.at(index) == Asked::Once) {
            batch << index;
        }
    }
    while (!m_batchOut && batch.size() < kBatch && m_next < m_addresses.size()) {
        if (m_asked.at(m_next) == Asked::Not) {
            batch << m_next;
        }
        ++m_next;
    }
    if (!batch.isEmpty()) {
        sendBatch(batch);
    }
    // A second request waits for the batch out there; giving up waits for nothing.
    qint64 wakeAt = m_giveUps.empty() ? -1 : m_giveUps.front().atMs;
    if (!m_batchOut && !m_secondRequests.empty()) {
        const qint64 due = m_secondRequests.front().atMs;
        wakeAt = wakeAt < 0 ? due : std::min(wakeAt, due);
    }
    if (wakeAt >= 0) {
        m_wake.start(int(std::max<qint64>(1, wakeAt - now)));
    }
}

bool HelperArpSweep::giveUpSilent(qint64 now)
{
    while (m_running && !m_giveUps.empty() && m_giveUps.front().atMs <= now) {
        const int index = m_giveUps.front().index;
        m_giveUps.pop_front();
        if (m_asked.at(index) == Asked::Twice) {
            finish(index);
        }
    }
    return m_running;
}

void HelperArpSweep::sendBatch(const QVector<int> &indices)
{
    // Consecutive addresses go as one range: a first round is one line per batch.
    int runStart = 0;
    for (int i = 0; i < indices.size(); ++i) {
        const int index = indices.at(i);
        m_asked[index] = m_asked.at(index) == Asked::Not ? Asked::Once : Asked::Twice;
        const bool runEnds = i + 1 == indices.size()
            || m_addresses.at(indices.at(i + 1)) != m_addresses.at(index) + 1;
        if (runEnds) {
            m_engine->send(m_addresses.at(indices.at(runStart)), m_addresses.at(index));
            runStart = i + 1;
        }
    }
    m_inBatch = indices;
    m_batchOut = true;
}

void HelperArpSweep::onIdle()
{
    // Every frame of the batch is out: its requests are timed from now, which is at or after
    // each of them left.
    m_batchOut = false;
    const qint64 sentMs = m_clock.elapsed();
    for (const int index : qAsConst(m_inBatch)) {
        if (m_asked.at(index) == Asked::Once) {
            m_firstAskedMs[index] = sentMs;
            m_secondRequests.push_back({ index, sentMs + kSecondRequestAfterMs });
        } else if (m_asked.at(index) == Asked::Twice) {
            // Second requests go in the order they fell due, so these times never decrease.
            const qint64 firstOver = m_firstAskedMs.at(index) + kAnswerWindowMs + kReportSlackMs;
            m_giveUps.push_back({ index, std::max(firstOver, sentMs + kSecondAnswerMs) });
        }
    }
    m_inBatch.clear();
    pump();
}

void HelperArpSweep::onReplied(quint32 address, const QByteArray &mac)
{
    const int index = indexOf(address);
    if (index < 0) {
        // An answer in another address's name: what the link says, not what was asked.
        onHeard(address, mac);
        return;
    }
    // Every device that answers for the address is reported, also after the first.
    if (!m_reported.contains({ address, mac })) {
        m_reported.insert({ address, mac });
        m_reports.hostAnswered(address, macText(mac));
    }
    if (m_asked.at(index) != Asked::Done) {
        finish(index);
    }
}

void HelperArpSweep::onHeard(quint32 address, const QByteArray &mac)
{
    if (address >= m_subnetFirst && address <= m_subnetLast) {
        return; // inside, it answers this sweep's own request or not at all
    }
    if (!m_reported.contains({ address, mac })) {
        m_reported.insert({ address, mac });
        m_reports.hostHeardOutside(address, macText(mac));
    }
}

void HelperArpSweep::onFailed(ArpEngine::Failure failure, const QString &reason)
{
    if (!m_running) {
        emit unavailable(reason);
        return;
    }
    m_running = false;
    m_wake.stop();
    if (!m_ownsEngine) {
        // Whoever keeps the session may start it again; this sweep is over either way.
        m_engine->disconnect(this);
        m_engine = nullptr;
    }
    if (failure == ArpEngine::Failure::LinkLost) {
        m_state->abandon();
        return;
    }
    // The helper is gone while the link is not: what it did not ask is not known.
    qWarning().noquote() << "ARP helper ended during the sweep:" << reason;
    for (int index = 0; index < m_asked.size(); ++index) {
        if (m_asked.at(index) != Asked::Done) {
            m_asked[index] = Asked::Done;
            m_state->failAddress();
        }
    }
}

void HelperArpSweep::finish(int index)
{
    m_asked[index] = Asked::Done;
    m_state->finishAddress();
}

int HelperArpSweep::indexOf(quint32 address) const
{
    const auto it = std::lower_bound(m_addresses.cbegin(), m_addresses.cend(), address);
    return it != m_addresses.cend() && *it == address ? int(it - m_addresses.cbegin()) : -1;
}
