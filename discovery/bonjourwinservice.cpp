#include "bonjourwinservice.h"

#include <QDebug>

// Placeholder bodies: the sweep and the browse fill these in.

BonjourWinService::BonjourWinService(QObject *parent)
    : QObject(parent)
{
}

BonjourWinService::~BonjourWinService()
{
    shutdown();
}

void BonjourWinService::startArpScan(QStringList addresses, bool httpProbe)
{
    Q_UNUSED(httpProbe)
    qDebug().noquote() << "BonjourWinService startArpScan";
    m_addressList = addresses;
    m_remaining = m_addressList.size();
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
    if (report) {
        emit pingIPResult(ipString, false);
    }
    return false;
}

void BonjourWinService::startDiscover()
{
    qDebug().noquote() << "BonjourWinService startDiscover";
}

void BonjourWinService::stopDiscover()
{
    qDebug().noquote() << "BonjourWinService stopDiscover";
}

void BonjourWinService::shutdown()
{
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
        done = --m_remaining == 0;
    }
    if (done) {
        qDebug().noquote() << "Done Arp Scan";
        emit arpScanDone();
    }
}

void BonjourWinService::endSweepThreads()
{
}
