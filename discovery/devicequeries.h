#ifndef DEVICEQUERIES_H
#define DEVICEQUERIES_H

#include "base/devicerow.h"
#include "discovery/devicerecords.h"

#include <QHash>
#include <QObject>
#include <QQueue>
#include <QSet>
#include <QString>

class QNetworkAccessManager;
class QNetworkReply;

// The questions a scan asks the devices it found over their HTTP protocol (name, firmware, MAC),
// each bounded in time and size, and the rows their answers complete. A sweep can find thousands
// of hosts that pass the vendor test (one host may answer ARP for a whole subnet), so only a
// fixed number of queries is in flight and the rest wait their turn: descriptors stay for the
// sweep itself.
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

    // A device a sweep found (ipString a dotted-quad address; anything else asks nothing): its
    // record starts with the MAC the sweep reported, and its name and firmware are asked for.
    void ask(const QString &ipString, const QString &macString);
    // Asks a device for its MAC address, whose answer replaces the one in its record.
    void askMacAddress(const QString &ipString);
    // Two devices answer for ipString: what is asked of the address can no longer be told
    // apart, so its record goes and its answers no longer count.
    void forget(const QString &ipString);
    // Whether devices may be asked through a router (a range the user named for the HTTP probe).
    // Otherwise a device that is not on one of this machine's links is not asked: the question
    // would leave through the default route. Its row then has no name or firmware.
    void setRoutedAllowed(bool allowed) { m_routedAllowed = allowed; }
    // Records still incomplete that have a MAC, in address text order, with empty firmware and
    // name: what the end of a sweep reports.
    QVector<DeviceRow> incompleteRows() const { return m_records.incompleteRows(); }
    // A new scan: the records are forgotten, waiting queries dropped and those in flight
    // aborted; their answers no longer count.
    void clear();
    int pendingCount() const { return m_inFlight.size() + m_waiting.size(); }

signals:
    // A record is complete after this answer; every answer that finds it complete sends it.
    void rowCompleted(const DeviceRow &row);
    // The last query of the scan has been answered.
    void settled();

private:
    struct Query
    {
        quint32 address;
        QString path;
    };
    void send(const QString &ipString, const QString &path);
    void sendWaiting();
    void onFinished(QNetworkReply *reply);
    QNetworkAccessManager *managerFor(quint32 address);
    void releaseManager(quint32 address);

    DeviceRecords m_records;
    QHash<quint32, QNetworkAccessManager *> m_managers;
    QHash<QNetworkReply *, quint32> m_inFlight;
    QQueue<Query> m_waiting;
    QSet<quint32> m_forgotten;
    bool m_routedAllowed = false;
};

#endif // DEVICEQUERIES_H
