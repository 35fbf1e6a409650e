#ifndef HTTPRESPONDER_H
#define HTTPRESPONDER_H

#include "simconfig.h"

#include <QObject>
#include <QTcpServer>

class QTcpSocket;
class SimLog;

// The encoder's HTTP side: one request per connection, answered as the endpoint's behaviour says.
class HttpResponder : public QObject
{
    Q_OBJECT
public:
    HttpResponder(const SimConfig &config, SimLog *log, QObject *parent = nullptr);
    bool listen();

signals:
    // The connection of the request that --leave-after-requests counts up to has ended.
    void lastRequestDone();

private:
    void onNewConnection();
    void onReadyRead(QTcpSocket *socket);
    void answer(QTcpSocket *socket, const QString &path);
    void sendComplete(QTcpSocket *socket, const QByteArray &status, const QByteArray &type,
                      const QByteArray &body);
    void stream(QTcpSocket *socket, qint64 total, const QByteArray &filler);
    void drip(QTcpSocket *socket, QByteArray rest);

    const SimConfig &m_config;
    SimLog *m_log;
    QTcpServer m_server;
    QByteArray m_gzipBomb;
    int m_requests = 0;
};

#endif // HTTPRESPONDER_H
