#include "identifylistener.h"

#include "simlog.h"

#include <QTcpSocket>

IdentifyListener::IdentifyListener(const QString &recordFile, SimLog *log, QObject *parent)
    : QObject(parent), m_record(recordFile), m_log(log)
{
    connect(&m_server, &QTcpServer::newConnection, this, &IdentifyListener::onNewConnection);
}

bool IdentifyListener::listen(const QHostAddress &address, quint16 port)
{
    if (!m_record.fileName().isEmpty() && !m_record.open(QIODevice::Append)) {
        return false;
    }
    return m_server.listen(address, port);
}

void IdentifyListener::onNewConnection()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        const QString peer = socket->peerAddress().toString();
        m_log->write(QStringLiteral("identify connect from %1").arg(peer));
        auto *received = new qint64(0);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket, received] {
            const QByteArray bytes = socket->readAll();
            *received += bytes.size();
            if (m_record.isOpen()) {
                m_record.write(bytes);
                m_record.flush();
            }
        });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket, received, peer] {
            m_log->write(
                QStringLiteral("identify close from %1 after %2 bytes").arg(peer).arg(*received));
            delete received;
            socket->deleteLater();
        });
    }
}
