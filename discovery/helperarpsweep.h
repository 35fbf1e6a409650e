#ifndef HELPERARPSWEEP_H
#define HELPERARPSWEEP_H

#include "platform/arpengine.h"

#include <QElapsedTimer>
#include <QObject>
#include <QSharedPointer>
#include <QSet>
#include <QTimer>
#include <QVector>

#include <deque>

class DiscoveryReports;
class SweepState;

// The ARP sweep through lumisweep-arp, the helper that alone holds CAP_NET_RAW: it sends the
// requests and reports every answer on the link, so that this sweep sees what the kernel's
// neighbour table cannot (two devices on one address, a device set to another subnet) and leaves
// that table as it found it.
//
// A row means an answer to this sweep's own request. Each address is scheduled from its own first
// request: one still silent a moment later is asked again, interleaved with the first requests
// of later addresses, and given up once both the answer window after its first request and a
// short window after its second have passed. A device that answers late, or only the second
// request, is still found, and the sweep ends soon after its last first request. Vendor devices
// heard on the link whose addresses lie outside the swept subnet are reported as such. Lives in
// the thread that creates it (the service's).
class HelperArpSweep : public QObject
{
    Q_OBJECT
public:
    // An address still silent this long after its first request is asked again (a request
    // lost, or a device that ignores the first). It is given up once its first request is
    // kAnswerWindowMs old, the time a slow device may take, and its second kSecondAnswerMs old,
    // time enough for a device that ignored the first. The first is counted from the helper's
    // "idle" after the batch that held it, which comes once every frame of the batch is out,
    // plus kReportSlackMs for an answer's way through the helper and the pipe on a busy
    // machine. And how many requests the helper sends at a time (a tenth of a second at its
    // rate), so that second requests can come in between.
    static constexpr int kSecondRequestAfterMs = 300;
    static constexpr int kAnswerWindowMs = 800;
    static constexpr int kSecondAnswerMs = 250;
    static constexpr int kReportSlackMs = 50;
    static constexpr int kBatch = 200;

    // addresses ascending; subnetFirst..subnetLast: what counts as inside the swept subnet.
    HelperArpSweep(DiscoveryReports &reports, QVector<quint32> addresses, quint32 subnetFirst,
                   quint32 subnetLast, QSharedPointer<SweepState> state);
    ~HelperArpSweep() override;

    // A helper of its own; helperPath empty: where the program looks by default. ready or
    // unavailable follows.
    void start(const QString &helperPath, const QString &interfaceName, quint32 source);
    // On a session that is ready and that another keeps (a watch's); stop() leaves it running.
    void run(ArpEngine *engine, quint32 source);
    void stop();

signals:
    // The helper runs: the sweep is under way.
    void ready(const QString &helperPath);
    // The helper cannot run here (missing, no capability); nothing was sent.
    void unavailable(const QString &reason);

private:
    enum class Asked : quint8 { Not, Once, Twice, Done };
    struct Due
    {
        int index;
        qint64 atMs;
    };

    void attach();
    void begin(quint32 source);
    void pump();
    // Gives up the addresses whose time is over; false when that ended the sweep.
    bool giveUpSilent(qint64 now);
    void sendBatch(const QVector<int> &indices);
    void onIdle();
    void onReplied(quint32 address, const QByteArray &mac);
    void onHeard(quint32 address, const QByteArray &mac);
    void onFailed(ArpEngine::Failure failure, const QString &reason);
    void finish(int index);
    int indexOf(quint32 address) const;

    DiscoveryReports &m_reports;
    const QVector<quint32> m_addresses;
    const quint32 m_subnetFirst;
    const quint32 m_subnetLast;
    const QSharedPointer<SweepState> m_state;
    ArpEngine *m_engine = nullptr;
    bool m_ownsEngine = false;
    QString m_helperPath;
    bool m_running = false;
    bool m_batchOut = false;
    QVector<Asked> m_asked;
    QVector<qint64> m_firstAskedMs;
    int m_next = 0;
    // Asked once and due for a second request; asked twice and due to be given up. Each is in
    // the order of its times.
    std::deque<Due> m_secondRequests;
    std::deque<Due> m_giveUps;
    QVector<int> m_inBatch;
    QSet<QPair<quint32, QByteArray>> m_reported;
    QElapsedTimer m_clock;
    QTimer m_wake;
};

#endif // HELPERARPSWEEP_H
