#ifndef ARPWATCH_H
#define ARPWATCH_H

#include "platform/arpengine.h"
#include "platform/linkmonitor.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <QVector>

#include <functional>
#include <memory>

class NeighbourBatch;
class WatchSchedule;

// The live part of a watch, after its first scan: it asks again what WatchSchedule says is due
// (the known devices, and a slow sweep of the subnet for silent newcomers), and follows the
// watched interface.
//
// With the ARP helper it keeps one session open for the whole watch, and everything the helper
// hears on the link (an announcement, a probe, a reply to anyone) is an answer at once; the first
// scan's sweep runs on the same session. Without it, the kernel's neighbour table asks, through
// the kernel path's workers, and a newcomer is found by the next sweep. When the interface goes
// down or loses its address nothing is sent, and no request counts as unanswered, until it is
// back; the helper, which leaves then, is started again. Lives in the thread that creates it.
class ArpWatch : public QObject
{
    Q_OBJECT
public:
    static constexpr int kTickMs = 250;
    // A helper that fails this many times in a row, without one "ready" between, is gone for
    // good; the first new start waits kRetryAfterMs, each next one twice as long.
    static constexpr int kHelperRetries = 3;
    static constexpr int kRetryAfterMs = 1000;

    enum class Mode {
        Sweep, // an ARP watch: every answer from the subnet may be a device
        RecheckOnly // an mDNS watch: only the devices the browse announced are asked again
    };
    struct Target
    {
        QString interfaceName;
        quint32 source = 0; // the interface address requests come from
        QVector<quint32> subnet; // ascending: what the sweep covers, and what counts as inside
        Mode mode = Mode::Sweep;
        qint64 sweepPeriodMs = 60000;
    };

    explicit ArpWatch(const Target &target);
    ~ArpWatch() override;

    // Where the known devices' addresses come from, ascending; asked on every tick.
    void setKnown(std::function<QVector<quint32>()> known) { m_known = std::move(known); }
    // Starts the helper session (empty path: the program's default), or the kernel's path at
    // once when useHelper is false. helperReady or helperUnavailable follows.
    void start(bool useHelper, const QString &helperPath);
    // The helper's session, for the first scan's sweep; null on the kernel's path.
    ArpEngine *engine() const { return m_engine; }
    // The first scan is over: from now on the watch asks by itself.
    void goLive();
    // Ends everything at once; no signal follows.
    void stop();
    // Whether the watched interface is there now, asked of the kernel at once (linkLost or
    // linkBack follows first when that changed): news from elsewhere, such as the mDNS
    // daemon's removals, may come before the kernel's notice to us.
    bool linkPresentNow();

signals:
    void helperReady();
    void helperUnavailable(const QString &reason);
    // An ARP answer, or a frame heard on the link, from address (inside the subnet, or not).
    void answered(quint32 address, const QString &macString);
    void answeredOutside(quint32 address, const QString &macString);
    // A re-check of address ended; these MACs answered it.
    void requestEnded(quint32 address, const QStringList &macs);
    void linkLost();
    void linkBack();
    // The interface, up, was given another address while the watched one was away.
    void readdressed(quint32 address);
    // The helper kept failing: the watch cannot go on.
    void helperGone(const QString &reason);

private:
    struct Pending
    {
        qint64 deadlineMs = 0; // 0: the request is not confirmed sent yet
        QStringList macs;
    };

    void startHelper();
    void onReady();
    void onFailed(ArpEngine::Failure failure, const QString &reason);
    void onIdle();
    void onAnswer(quint32 address, const QByteArray &mac, bool reply);
    void takeAnswer(quint32 address, const QString &macString);
    void onLink(LinkMonitor::Status status);
    void tick();
    void askThroughHelper(const QVector<quint32> &rechecks, const QVector<quint32> &share);
    void askThroughKernel(const QVector<quint32> &known, qint64 now);
    void startBatch(std::unique_ptr<NeighbourBatch> &slot, QVector<quint32> addresses,
                    bool rechecks);
    void endRequests(qint64 now);
    void recheckEnded(quint32 address, const QStringList &macs);
    // The known addresses the current path can ask.
    QVector<quint32> askable() const;
    bool isInside(quint32 address) const;

    const Target m_target;
    LinkMonitor m_monitor;
    std::function<QVector<quint32>()> m_known;
    std::unique_ptr<WatchSchedule> m_schedule;
    ArpEngine *m_engine = nullptr;
    bool m_helperRunning = false;
    // Requests written that the helper has not said "idle" after: the next wait for it, so that
    // a request leaves soon after it is asked for, as the schedule's spacing needs.
    bool m_batchOut = false;
    int m_failures = 0;
    bool m_live = false;
    QHash<quint32, Pending> m_pending;
    std::unique_ptr<NeighbourBatch> m_recheckBatch;
    std::unique_ptr<NeighbourBatch> m_sweepBatch;
    QElapsedTimer m_clock;
    QTimer m_tick;
    QTimer m_retry;
};

#endif // ARPWATCH_H
