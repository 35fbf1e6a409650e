#ifndef DEVICEQUERIES_H
#define DEVICEQUERIES_H

#include "controller/devicerecordassembler.h"

#include <QHash>
#include <QObject>
#include <QQueue>
#include <QString>

class QNetworkAccessManager;
class QNetworkReply;

// The Controller's questions to devices (name, firmware, MAC), each bounded in time and size,
// and their answers stored into the device records. A sweep can find thousands of hosts that
// pass the vendor test (one host may answer ARP for a whole subnet), so only a fixed number of
// queries is in flight and the rest wait their turn: descriptors stay for the sweep itself.
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

    explicit DeviceQueries(DeviceRecordAssembler *records);

    // Asks the device at ipString (a dotted-quad address; anything else asks nothing) for one
    // endpoint.
    void send(const QString &ipString, const QString &path);
    // For each finished reply: one of the current scan goes into the records, and deviceFound
    // follows when its record is then complete. Either way the next waiting query goes out.
    void finish(QNetworkReply *reply);
    // A stop or a new scan: waiting queries are dropped and those in flight aborted; their
    // replies are no longer current.
    void abortAll();
    int pendingCount() const { return m_inFlight.size() + m_waiting.size(); }

signals:
    // Every reply once, current or not; whoever handles it releases it.
    void replyFinished(QNetworkReply *reply);
    void deviceFound(DeviceRow row);
    // The last query of the scan has been answered.
    void settled();

private:
    struct Query
    {
        quint32 address;
        QString path;
    };
    void sendWaiting();
    QNetworkAccessManager *managerFor(quint32 address);
    void releaseManager(quint32 address);

    DeviceRecordAssembler *const m_records;
    QHash<quint32, QNetworkAccessManager *> m_managers;
    QHash<QNetworkReply *, quint32> m_inFlight;
    QQueue<Query> m_waiting;
};

#endif // DEVICEQUERIES_H
