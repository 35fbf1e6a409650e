#ifndef BONJOURWINSERVICE_H
#define BONJOURWINSERVICE_H

#include <QMutex>
#include <QObject>
#include <QPair>
#include <QStringList>

#include <atomic>

class ARPThread;
class BonjourThread;

// The discovery service: address sweeps (ARP or HTTP probe) on worker threads and the mDNS
// browse on its own thread. Every host found is reported through deviceMacFound.
class BonjourWinService : public QObject
{
    Q_OBJECT
public:
    static constexpr int kMaxThreads = 256;

    explicit BonjourWinService(QObject *parent);
    ~BonjourWinService() override;

    void startArpScan(QStringList addresses, bool httpProbe);
    void stopArpScan();
    int remainingCount() const;
    bool pingIP(QString ipString, bool report);
    void startDiscover();
    void stopDiscover();
    // Ends sweep workers and the browse without any signal, e.g. before the program quits.
    void shutdown();

    // For the workers: their slice of the list, and the per-address counter step.
    QString addressAt(int index) const;
    void finishAddress();
    // Start position and length of each worker's slice, in slot order, for diagnostics.
    QList<QPair<int, int>> sweepSlices() const;

signals:
    void pingIPResult(QString ipString, bool bSuccess);
    void deviceMacFound(QString ipString, QString macString, QString fwString, QString nameString);
    void arpScanDone();
    void showWarningMessage(QString message, int type);

private:
    void endSweepThreads();
    // Stops the browse thread, if any, and deletes it; emits nothing.
    void endBrowseThread();

    BonjourThread *m_bonjourThread = nullptr;
    QStringList m_addressList;
    ARPThread *m_arpThreads[kMaxThreads] = {};
    QMutex m_countMutex;
    // Written under m_countMutex, read without it for the progress figure.
    std::atomic<int> m_remaining { 0 };
    int m_threadCount = 0;
    // Set under m_countMutex while a stop ends the workers. Atomic as well: the lock alone
    // orders it, but a thread sanitizer cannot see a QMutex unless Qt is built with it.
    std::atomic<bool> m_sweepStopped { false };
};

#endif // BONJOURWINSERVICE_H
