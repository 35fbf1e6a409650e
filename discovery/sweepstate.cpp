#include "sweepstate.h"

#include <QDeadlineTimer>

SweepState::SweepState(int addressCount, int interfaceIndex, bool namedRange)
    : m_remaining(addressCount), m_interfaceIndex(interfaceIndex), m_namedRange(namedRange)
{
}

void SweepState::finishAddress()
{
    // fetch_sub makes exactly one worker see the count reach zero; claimEnd keeps a stop that
    // came first from being followed by a second report.
    if (m_remaining.fetch_sub(1, std::memory_order_acq_rel) == 1 && claimEnd()) {
        emit ended();
    }
}

void SweepState::failAddress()
{
    m_failures.fetch_add(1, std::memory_order_relaxed);
    finishAddress();
}

void SweepState::stop()
{
    claimEnd();
    QMutexLocker locker(&m_pauseMutex);
    m_stopping.store(true, std::memory_order_release);
    m_stopped.wakeAll();
}

void SweepState::abandon()
{
    {
        QMutexLocker locker(&m_pauseMutex);
        m_stopping.store(true, std::memory_order_release);
        m_stopped.wakeAll();
    }
    if (claimEnd()) {
        emit interfaceLost();
        emit ended();
    }
}

void SweepState::pause(int milliseconds)
{
    QDeadlineTimer deadline(milliseconds);
    QMutexLocker locker(&m_pauseMutex);
    while (!isStopping() && !deadline.hasExpired()) {
        m_stopped.wait(&m_pauseMutex, deadline);
    }
}

void SweepState::endIfEmpty()
{
    if (m_remaining.load(std::memory_order_acquire) == 0 && claimEnd()) {
        emit ended();
    }
}
