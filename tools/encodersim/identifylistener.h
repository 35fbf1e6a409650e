#ifndef IDENTIFYLISTENER_H
#define IDENTIFYLISTENER_H

#include <QFile>
#include <QObject>
#include <QTcpServer>

class SimLog;

// The identify port: keeps every byte a client sends, so a test can compare the command.
class IdentifyListener : public QObject
{
    Q_OBJECT
public:
    IdentifyListener(const QString &recordFile, SimLog *log, QObject *parent = nullptr);
    bool listen(const QHostAddress &address, quint16 port);

private:
    void onNewConnection();

    QTcpServer m_server;
    QFile m_record;
    SimLog *m_log;
};

#endif // IDENTIFYLISTENER_H
