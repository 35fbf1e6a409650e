#ifndef HELPERARPSWEEP_H
#define HELPERARPSWEEP_H

#include <QElapsedTimer>
#include <QObject>
#include <QSharedPointer>
#include <QSet>
#include <QTimer>
#include <QVector>

#include <deque>

class ArpEngine;
class DiscoveryReports;
class SweepState;

// The ARP sweep through lumisweep-arp, the helper that alone holds CAP_NET_RAW: it sends the
// requests and reports every answer on the link, so that this sweep sees what the kernel's
// neighbour table cannot (two devices on one address, a device set to another subnet) and leaves
// that table as it found it.
//
// A row means an answer to this sweep's own request. Each address is asked once; one still
// silent half a second later is asked again, interleaved with the first requests of later
// addresses, and given a second after its last request, so a late or once-deaf device is still
// found. Vendor
// devices heard on the link whose addresses lie outside the swept subnet are reported as such.
// Lives in the thread that creates it (the service's).
class HelperArpSweep : public QObject
{
    Q_OBJECT
public:
    // An address still silent this long after its first request is asked again (a request
    // lost, or a device that ignores the first); after its last request it is given this long,
    // late answers included. And how many requests the helper sends at a time (a tenth of a
    // second at its top rate), so that second requests can come in between.
    static constexpr int kSecondRequestAfterMs = 500;
    static constexpr int kAnswerTimeMs = 1000;
    static constexpr int kBatch = 200;

    // addresses ascending; subnetFirst..subnetLast: what counts as inside the swept subnet.
    HelperArpSweep(DiscoveryReports &reports, QVector<quint32> addresses, quint32 subnetFirst,
                   quint32 subnetLast, QSharedPointer<SweepState> state);
    ~HelperArpSweep() override;

    // helperPath empty: where the program looks by default. ready or unavailable follows.
    void start(const QString &helperPath, const QString &interfaceName, quint32 source);
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

    void pump();
    void sendBatch(const QVector<int> &indices);
    void onReplied(quint32 address, const QByteArray &mac);
    void onHeard(quint32 address, const QByteArray &mac);
    void onFailed(const QString &reason);
    void finish(int index);
    int indexOf(quint32 address) const;

    DiscoveryReports &m_reports;
    const QVector<quint32> m_addresses;
    const quint32 m_subnetFirst;
    const quint32 m_subnetLast;
    const QSharedPointer<SweepState> m_state;
    ArpEngine *m_engine = nullptr;
    QString m_helperPath;
    QString m_interfaceName;
    bool m_running = false;
    bool m_batchOut = false;
    QVector<Asked> m_asked;
    int m_next = 0;
    // Asked once and due for a second request; asked twice and due to be given up.
    std::deque<Due> m_secondRequests;
    std::deque<Due> m_lastChances;
    QVector<int> m_inBatch;
    QSet<QPair<quint32, QByteArray>> m_reported;
    QElapsedTimer m_clock;
    QTimer m_wake;
};

#endif // HELPERARPSWEEP_H
