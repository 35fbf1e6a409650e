#ifndef SWEEPSTATE_H
#define SWEEPSTATE_H

#include <QMutex>
#include <QObject>
#include <QWaitCondition>

#include <atomic>

// What the workers of one sweep share: how many addresses are left, whether the sweep is to
// end, how many addresses could not be checked, and the one report of the sweep's end.
class SweepState : public QObject
{
    Q_OBJECT
public:
    SweepState(int addressCount, int interfaceIndex, bool namedRange = false);

    int remaining() const { return m_remaining.load(std::memory_order_relaxed); }
    int failures() const { return m_failures.load(std::memory_order_relaxed); }
    // The interface the sweep's addresses are on; probes go out only through it.
    int interfaceIndex() const { return m_interfaceIndex; }
    // The addresses are a range the user named, which may lie behind a router.
    bool isNamedRange() const { return m_namedRange; }
    bool isStopping() const { return m_stopping.load(std::memory_order_acquire); }
    // For waits in the network layer, which end early when it turns true.
    const std::atomic<bool> &stopFlag() const { return m_stopping; }

    // One address is done, whatever its outcome. The step that finishes the last one reports
    // the end of the sweep.
    void finishAddress();
    // One address could not be checked at all (the system refused a socket, ...); it is
    // finished all the same, and counted so that the user hears of it.
    void failAddress();
    // The user ends the sweep: the workers stop at their next step and report nothing more.
    void stop();
    // The swept interface is gone: the sweep ends now, with that reason, once.
    void abandon();
    // Waits up to milliseconds, less when the sweep is stopped meanwhile.
    void pause(int milliseconds);
    // Reports the end of a sweep that has nothing to do, unless it was stopped first.
    void endIfEmpty();

signals:
    void ended();
    void interfaceLost();

private:
    bool claimEnd() { return !m_ended.exchange(true); }

    std::atomic<int> m_remaining;
    std::atomic<int> m_failures { 0 };
    std::atomic<bool> m_stopping { false };
    std::atomic<bool> m_ended { false };
    const int m_interfaceIndex;
    const bool m_namedRange;
    QMutex m_pauseMutex;
    QWaitCondition m_stopped;
};

#endif // SWEEPSTATE_H
