#include "arpwatch.h"

#include "base/ipv4text.h"
#include "discovery/helperarpsweep.h"
#include "discovery/neighbourbatch.h"
#include "discovery/watchschedule.h"

#include <QDebug>

#include <algorithm>

namespace {

QString macText(const QByteArray &mac)
{
    return QString::fromLatin1(mac.toHex('-').toUpper());
}

// Time for an answer to a request the helper has sent, as the first scan gives it.
constexpr qint64 kAnswerWindowMs = HelperArpSweep::kAnswerWindowMs + HelperArpSweep::kReportSlackMs;

} // namespace

ArpWatch::ArpWatch(const Target &target)
    : m_target(target), m_monitor(target.interfaceName, target.source)
{
    m_clock.start();
    m_tick.setInterval(kTickMs);
    connect(&m_tick, &QTimer::timeout, this, &ArpWatch::tick);
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &ArpWatch::startHelper);
    connect(&m_monitor, &LinkMonitor::statusChanged, this, &ArpWatch::onLink);
    connect(&m_monitor, &LinkMonitor::readdressed, this, &ArpWatch::readdressed);
    if (!m_monitor.isOpen()) {
        qWarning().noquote() << "Watch: the kernel's notices of" << target.interfaceName
                             << "cannot be had; its outages will not be told";
    }
}

ArpWatch::~ArpWatch()
{
    stop();
}

void ArpWatch::start(bool useHelper, const QString &helperPath)
{
    if (!useHelper) {
        emit helperUnavailable(QStringLiteral("not asked for"));
        return;
    }
    m_engine = new ArpEngine(this);
    if (!helperPath.isEmpty()) {
        m_engine->setHelperPath(helperPath);
    }
    connect(m_engine, &ArpEngine::ready, this, &ArpWatch::onReady);
    connect(m_engine, &ArpEngine::failed, this, &ArpWatch::onFailed);
    connect(m_engine, &ArpEngine::idle, this, &ArpWatch::onIdle);
    connect(m_engine, &ArpEngine::replied, this,
            [this](quint32 address, const QByteArray &mac) { onAnswer(address, mac, true); });
    connect(m_engine, &ArpEngine::heard, this,
            [this](quint32 address, const QByteArray &mac) { onAnswer(address, mac, false); });
    startHelper();
}

void ArpWatch::startHelper()
{
    if (m_engine && !m_engine->isRunning()) {
        m_engine->start(m_target.interfaceName, m_target.source);
    }
}

void ArpWatch::onReady()
{
    const bool first = !m_helperRunning && m_failures == 0 && !m_live;
    m_helperRunning = true;
    m_failures = 0;
    qDebug().noquote() << "Watch: the ARP helper listens on" << m_target.interfaceName;
    if (first) {
        emit helperReady();
    }
}

void ArpWatch::onFailed(ArpEngine::Failure failure, const QString &reason)
{
    const bool before = !m_helperRunning && m_failures == 0 && !m_live;
    m_helperRunning = false;
    m_batchOut = false;
    // Requests that may never have left prove nothing.
    m_pending.clear();
    if (before && failure == ArpEngine::Failure::Unavailable) {
        // Never ran: the kernel's path watches instead.
        m_engine->deleteLater();
        m_engine = nullptr;
        emit helperUnavailable(reason);
        return;
    }
    if (m_monitor.status() == LinkMonitor::Status::Lost) {
        return; // started again once the interface is back
    }
    if (++m_failures > kHelperRetries) {
        emit helperGone(reason);
        return;
    }
    qWarning().noquote() << "Watch:" << reason << "- starting it again";
    m_retry.start(kRetryAfterMs << (m_failures - 1));
}

void ArpWatch::onIdle()
{
    const qint64 now = m_clock.elapsed();
    m_batchOut = false;
    for (Pending &pending : m_pending) {
        if (pending.deadlineMs == 0) {
            pending.deadlineMs = now + kAnswerWindowMs;
        }
    }
}

void ArpWatch::onAnswer(quint32 address, const QByteArray &mac, bool reply)
{
    // During the first scan its sweep reports the answers to its own requests.
    if (m_live || !reply) {
        takeAnswer(address, macText(mac));
    }
}

void ArpWatch::takeAnswer(quint32 address, const QString &macString)
{
    const auto pending = m_pending.find(address);
    if (pending != m_pending.end() && !pending->macs.contains(macString)) {
        pending->macs << macString;
    }
    if (isInside(address) || m_target.mode == Mode::RecheckOnly) {
        emit answered(address, macString);
    } else {
        emit answeredOutside(address, macString);
    }
}

bool ArpWatch::isInside(quint32 address) const
{
    const QVector<quint32> &subnet = m_target.subnet;
    return !subnet.isEmpty() && address >= subnet.first() - 1 && address <= subnet.last() + 1;
}

void ArpWatch::goLive()
{
    if (m_live) {
        return;
    }
    m_live = true;
    const qint64 now = m_clock.elapsed();
    const bool swept = m_target.mode == Mode::Sweep;
    m_schedule = std::make_unique<WatchSchedule>(swept ? m_target.subnet : QVector<quint32>(),
                                                 m_target.sweepPeriodMs, swept ? now : LLONG_MIN);
    m_tick.start();
}

void ArpWatch::stop()
{
    m_tick.stop();
    m_retry.stop();
    m_live = false;
    m_recheckBatch.reset();
    m_sweepBatch.reset();
    if (m_engine) {
        m_engine->stop();
    }
}

bool ArpWatch::linkPresentNow()
{
    m_monitor.look();
    return m_monitor.status() == LinkMonitor::Status::Present || !m_monitor.isOpen();
}

void ArpWatch::onLink(LinkMonitor::Status status)
{
    if (status == LinkMonitor::Status::Lost) {
        m_pending.clear();
        m_recheckBatch.reset();
        m_sweepBatch.reset();
        // It leaves by itself; what it might still say is not worth the wait.
        if (m_engine) {
            m_engine->stop();
            m_helperRunning = false;
            m_batchOut = false;
        }
        m_retry.stop();
        emit linkLost();
        return;
    }
    emit linkBack();
    m_failures = 0;
    startHelper();
}

QVector<quint32> ArpWatch::askable() const
{
    QVector<quint32> known = m_known ? m_known() : QVector<quint32>();
    // The kernel asks only on the watched link; the mDNS watch, whose devices may be anywhere,
    // asks only there too.
    if (!m_engine || m_target.mode == Mode::RecheckOnly) {
        known.erase(std::remove_if(known.begin(), known.end(),
                                   [this](quint32 address) {
                                       return !isInside(address) || !Ipv4Text::isUnicast(address);
                                   }),
                    known.end());
    }
    known.removeAll(m_target.source);
    return known;
}

void ArpWatch::tick()
{
    const qint64 now = m_clock.elapsed();
    if (m_monitor.status() == LinkMonitor::Status::Lost && m_monitor.isOpen()) {
        return;
    }
    endRequests(now);
    const QVector<quint32> known = askable();
    if (!m_engine) {
        askThroughKernel(known, now);
    } else if (m_helperRunning && !m_batchOut) {
        const QVector<quint32> rechecks = m_schedule->rechecks(known, now);
        askThroughHelper(rechecks, m_schedule->sweepShare(known, now));
    }
}

void ArpWatch::endRequests(qint64 now)
{
    for (auto it = m_pending.begin(); it != m_pending.end();) {
        if (it->deadlineMs == 0 || it->deadlineMs > now) {
            ++it;
            continue;
        }
        const quint32 address = it.key();
        const QStringList macs = it->macs;
        it = m_pending.erase(it);
        recheckEnded(address, macs);
    }
}

void ArpWatch::recheckEnded(quint32 address, const QStringList &macs)
{
    m_schedule->recheckEnded(address, !macs.isEmpty());
    emit requestEnded(address, macs);
}

void ArpWatch::askThroughHelper(const QVector<quint32> &rechecks, const QVector<quint32> &share)
{
    for (const quint32 address : rechecks) {
        m_pending.insert(address, Pending());
    }
    QVector<quint32> all = rechecks + share;
    std::sort(all.begin(), all.end());
    // Consecutive addresses go as one range: a sweep's share is one line.
    for (int i = 0; i < all.size();) {
        int last = i;
        while (last + 1 < all.size() && all.at(last + 1) == all.at(last) + 1) {
            ++last;
        }
        m_engine->send(all.at(i), all.at(last));
        m_batchOut = true;
        i = last + 1;
    }
}

void ArpWatch::askThroughKernel(const QVector<quint32> &known, qint64 now)
{
    // One batch of each kind at a time: a worker paces its addresses itself.
    if (!m_recheckBatch) {
        startBatch(m_recheckBatch, m_schedule->rechecks(known, now), true);
    }
    if (!m_sweepBatch) {
        startBatch(m_sweepBatch, m_schedule->sweepShare(known, now), false);
    }
}

void ArpWatch::startBatch(std::unique_ptr<NeighbourBatch> &slot, QVector<quint32> addresses,
                          bool rechecks)
{
    if (addresses.isEmpty()) {
        return;
    }
    slot = std::make_unique<NeighbourBatch>(std::move(addresses), m_monitor.interfaceIndex());
    NeighbourBatch *batch = slot.get();
    connect(batch, &NeighbourBatch::answered, this, &ArpWatch::takeAnswer);
    if (rechecks) {
        for (const quint32 address : batch->addresses()) {
            m_pending.insert(address, Pending());
        }
    }
    connect(batch, &NeighbourBatch::ended, this, [this, batch, &slot, rechecks](bool complete) {
        for (const quint32 address : batch->addresses()) {
            const Pending pending = m_pending.take(address);
            if (rechecks && complete) {
                recheckEnded(address, pending.macs);
            }
        }
        // Its workers have ended; it goes once this signal is done.
        slot.release()->deleteLater();
    });
    if (!batch->start()) {
        slot.reset();
    }
}
