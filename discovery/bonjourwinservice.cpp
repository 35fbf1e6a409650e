#include "bonjourwinservice.h"

#include "discovery/bonjourthread.h"

#include "arpthread.h"
#include "platform/icmpecho.h"
#include "platform/ipv4address.h"

#include <QDebug>

#include <cmath>

namespace {

// The echo payload devices of this family expect; the NUL is part of it.
const QByteArray kEchoPayload("wholetsthedogout", 17);
constexpr int kEchoLimitMs = 10;
constexpr int kArpThreadCount = 256;
constexpr int kProbeThreadCount = 20;

} // namespace

BonjourWinService::BonjourWinService(QObject *parent) : QObject(parent) { }

BonjourWinService::~BonjourWinService()
{
    shutdown();
}

void BonjourWinService::startArpScan(QStringList addresses, bool httpProbe)
{
    qDebug().noquote() << "BonjourWinService startArpScan";
    // Workers of an earlier sweep still read the list and count down: end them first.
    endSweepThreads();
    {
        QMutexLocker locker(&m_countMutex);
        m_addressList = addresses;
        m_remaining = m_addressList.size();
        m_sweepStopped = false;
    }
    m_threadCount = httpProbe ? kProbeThreadCount : kArpThreadCount;

    const int total = m_addressList.size();
    const int slice = int(std::ceil(float(total) / float(m_threadCount)));
    const int threads = qMin(m_threadCount, total);
    for (int i = 0; i < threads; ++i) {
        const int start = i * slice;
        const bool last = start + slice >= total;
        auto *thread = new ARPThread(this, start, last ? total - start : slice, httpProbe);
        m_arpThreads[i] = thread;
        thread->start(QThread::InheritPriority);
        if (last) {
            break;
        }
    }
}

void BonjourWinService::stopArpScan()
{
    qDebug().noquote() << "BonjourWinService stopArpScan";
    endSweepThreads();
    qDebug().noquote() << "Done Arp Scan";
    emit arpScanDone();
}

int BonjourWinService::remainingCount() const
{
    return m_remaining.load(std::memory_order_relaxed);
}

bool BonjourWinService::pingIP(QString ipString, bool report)
{
    quint32 address = 0;
    // A text that is no address must not become a broadcast echo.
    const bool result = Ipv4Address::parse(ipString, &address) && Ipv4Address::isUnicast(address)
        && IcmpEcho::send(address, kEchoPayload, kEchoLimitMs);
    if (report) {
        emit pingIPResult(ipString, result);
    }
    return result;
}

void BonjourWinService::startDiscover()
{
    qDebug().noquote() << "BonjourWinService startDiscover";
    if (!m_bonjourThread) {
        m_bonjourThread = new BonjourThread(this);
    }
    m_bonjourThread->startBrowse();
}

void BonjourWinService::stopDiscover()
{
    qDebug().noquote() << "BonjourWinService stopDiscover";
    endBrowseThread();
}

void BonjourWinService::shutdown()
{
    endBrowseThread();
    endSweepThreads();
}

QString BonjourWinService::addressAt(int index) const
{
    return m_addressList.value(index);
}

void BonjourWinService::finishAddress()
{
    bool done = false;
    {
        QMutexLocker locker(&m_countMutex);
        // After a stop, the stop alone reports the end, so the receiver hears of it once.
        done = --m_remaining == 0 && !m_sweepStopped;
    }
    if (done) {
        qDebug().noquote() << "Done Arp Scan";
        emit arpScanDone();
    }
}

QList<QPair<int, int>> BonjourWinService::sweepSlices() const
{
    QList<QPair<int, int>> slices;
    for (const ARPThread *thread : m_arpThreads) {
        if (thread) {
            slices.append(qMakePair(thread->startIndex(), thread->count()));
        }
    }
    return slices;
}

void BonjourWinService::endSweepThreads()
{
    {
        QMutexLocker locker(&m_countMutex);
        m_sweepStopped = true;
    }
    // Ask all workers first so that they wind down together rather than one after the other.
    for (ARPThread *thread : m_arpThreads) {
        if (thread) {
            thread->requestStop();
        }
    }
    for (ARPThread *&thread : m_arpThreads) {
        if (thread) {
            thread->waitUntilEnded();
            delete thread;
            thread = nullptr;
        }
    }
}

void BonjourWinService::endBrowseThread()
{
    if (!m_bonjourThread) {
        return;
    }
    // The thread waits for the daemon in its event loop, which the stop ends at once; it then
    // releases the connection by itself.
    m_bonjourThread->requestStop();
    m_bonjourThread->waitUntilEnded();
    delete m_bonjourThread;
    m_bonjourThread = nullptr;
}
