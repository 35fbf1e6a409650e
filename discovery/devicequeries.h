#ifndef DEVICEQUERIES_H
#define DEVICEQUERIES_H

#include "base/deviceanswer.h"

#include <QHash>
#include <QObject>
#include <QQueue>
#include <QString>

class QNetworkAccessManager;
class QNetworkReply;

// The questions a scan asks the devices it found over their HTTP protocol (name, firmware, MAC),
// each bounded in time and size. A sweep can find thousands of hosts that pass the vendor test
// (one host may answer ARP for a whole subnet), so only a fixed number of queries is in flight
// and the rest wait their turn: descriptors stay for the sweep itself. What each question got is
// reported as it comes; what it means for the device is the Controller's business.
//
// Each device in flight has an access manager of its own. Qt runs all of one manager's HTTP on
// one thread, and a device that streams headers without end keeps that thread busy until its
// query is given up: with one manager for all, every other device's query starved meanwhile.
class DeviceQueries : public QObject
{
    Q_OBJECT
public:
    static constexpr int kMaxInFlight = 64;
    // Covers the whole exchange, headers included: a device that answers slowly, or streams
    // headers or a body without end, is given up.
    static constexpr int kLimitMs = 3000;

    DeviceQueries();
    ~DeviceQueries() override;

    // Asks a device a sweep found (address in host byte order) for its name and firmware. False
    // when it cannot be asked: heard on the link but not on one of this machine's subnets, the
    // question would leave through the default route. Nothing is sent then.
    bool ask(quint32 address);
    // Asks a device for its MAC address.
    void askMacAddress(quint32 address);
    // The questions to address that still wait are dropped: two devices answer for it, and what
    // it answers can no longer be told apart.
    void cancel(quint32 address);
    // Whether devices may be asked through a router (a range the user named for the HTTP probe).
    void setRoutedAllowed(bool allowed) { m_routedAllowed = allowed; }
    // A new scan: waiting queries are dropped and those in flight aborted; their answers no
    // longer come.
    void clear();
    int pendingCount() const { return m_inFlight.size() + m_waiting.size(); }

signals:
    // What one question got, whatever it was.
    void answered(quint32 address, const DeviceAnswer &answer);
    // The last query of the scan has been answered.
    void settled();

private:
    struct Query
    {
        quint32 address;
        QString path;
    };
    void send(quint32 address, const QString &path);
    void sendWaiting();
    void onFinished(QNetworkReply *reply);
    QNetworkAccessManager *managerFor(quint32 address);
    void releaseManager(quint32 address);

    QHash<quint32, QNetworkAccessManager *> m_managers;
    QHash<QNetworkReply *, quint32> m_inFlight;
    QQueue<Query> m_waiting;
    bool m_routedAllowed = false;
};

#endif // DEVICEQUERIES_H
