#ifndef NEIGHBOURBATCH_H
#define NEIGHBOURBATCH_H

#include "discovery/discoveryreports.h"

#include <QObject>
#include <QSharedPointer>
#include <QVector>

#include <memory>
#include <vector>

class ARPThread;
class SweepState;

// A few addresses asked once through the kernel's neighbour table, the way the kernel path's
// sweep asks them (ARPThread workers): a watch's re-checks and its periodic sweep without the ARP
// helper. Answers and the end are reported in the thread that made the batch.
class NeighbourBatch : public QObject, private DiscoveryReports
{
    Q_OBJECT
public:
    // A worker takes at most this many addresses: each costs it a tenth of a second.
    static constexpr int kSliceSize = 400;
    static constexpr int kLongestLookMs = 250;

    // interfaceIndex: the link the addresses are on; nothing leaves through another.
    NeighbourBatch(QVector<quint32> addresses, int interfaceIndex);
    ~NeighbourBatch() override;

    // False when not one worker could be started.
    bool start();
    const QVector<quint32> &addresses() const { return m_addresses; }

signals:
    void answered(quint32 address, const QString &macString);
    // complete: each address was asked and given its time, none failed and the link stayed.
    void ended(bool complete);

private:
    void hostAnswered(quint32 address, const QString &macString) override;
    void hostHeardOutside(quint32, const QString &) override { }
    void deviceAnnounced(const QString &, const QString &, const QString &,
                         const QString &) override
    {
    }
    void announcementWithdrawn(const QString &, const QString &) override { }
    void announcementEnded(const QString &, const QString &) override { }
    void browseFailed(const QString &) override { }

    const QVector<quint32> m_addresses;
    const QSharedPointer<SweepState> m_state;
    std::vector<std::unique_ptr<ARPThread>> m_workers;
    bool m_linkLost = false;
};

#endif // NEIGHBOURBATCH_H
