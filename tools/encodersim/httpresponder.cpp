#include "httpresponder.h"

#include "simlog.h"

#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

namespace {

constexpr int kMaxRequestSize = 8192;
constexpr qint64 kChunkSize = 16 * 1024;
constexpr int kDripIntervalMs = 1000;

} // namespace

HttpResponder::HttpResponder(const SimConfig &config, SimLog *log, QObject *parent)
    : QObject(parent), m_config(config), m_log(log)
{
    connect(&m_server, &QTcpServer::newConnection, this, &HttpResponder::onNewConnection);
}

bool HttpResponder::listen()
{
    return m_server.listen(m_config.address, m_config.httpPort);
}

void HttpResponder::onNewConnection()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
    }
}

void HttpResponder::onReadyRead(QTcpSocket *socket)
{
    if (socket->property("answered").toBool()) {
        socket->readAll();
        return;
    }
    const QByteArray head = socket->peek(kMaxRequestSize);
    const int end = head.indexOf("\r\n\r\n");
    if (end < 0) {
        if (head.size() >= kMaxRequestSize) {
            socket->abort();
        }
        return;
    }
    socket->read(end + 4);
    socket->setProperty("answered", true);
    const QList<QByteArray> requestLine = head.left(head.indexOf("\r\n")).split(' ');
    const QString path
        = requestLine.size() >= 2 ? QString::fromLatin1(requestLine.at(1)) : QString();
    m_log->write(QStringLiteral("http %1 %2 from %3")
                     .arg(QString::fromLatin1(requestLine.value(0)), path,
                          socket->peerAddress().toString()));
    answer(socket, path);
}

void HttpResponder::answer(QTcpSocket *socket, const QString &path)
{
    using Fault = EndpointBehaviour::Fault;
    if (!m_config.endpoints.contains(path)) {
        sendComplete(socket, "404 Not Found", "text/plain", "not found\n");
        return;
    }
    const EndpointBehaviour &behaviour = m_config.endpoints.value(path);
    switch (behaviour.fault) {
    case Fault::None:
        sendComplete(socket, "200 OK", behaviour.contentType, behaviour.body);
        break;
    case Fault::NotFound:
        sendComplete(socket, "404 Not Found", "text/plain", "not found\n");
        break;
    case Fault::TextPlain:
        sendComplete(socket, "200 OK", "text/plain", behaviour.body);
        break;
    case Fault::Delay: {
        QPointer<QTcpSocket> guard(socket);
        QTimer::singleShot(int(behaviour.argument), this, [this, guard, behaviour] {
            if (guard) {
                sendComplete(guard, "200 OK", behaviour.contentType, behaviour.body);
            }
        });
        break;
    }
    case Fault::Hang:
        break;
    case Fault::Endless:
        socket->write("HTTP/1.1 200 OK\r\nContent-Type: " + behaviour.contentType
                      + "\r\nConnection: close\r\n\r\n");
        stream(socket, -1);
        break;
    case Fault::Huge:
        socket->write("HTTP/1.1 200 OK\r\nContent-Type: " + behaviour.contentType
                      + "\r\nContent-Length: " + QByteArray::number(behaviour.argument)
                      + "\r\nConnection: close\r\n\r\n");
        stream(socket, behaviour.argument);
        break;
    case Fault::Drip:
        socket->write("HTTP/1.1 200 OK\r\nContent-Type: " + behaviour.contentType
                      + "\r\nContent-Length: " + QByteArray::number(behaviour.body.size())
                      + "\r\nConnection: close\r\n\r\n");
        drip(socket, behaviour.body);
        break;
    }
}

void HttpResponder::sendComplete(QTcpSocket *socket, const QByteArray &status,
                                 const QByteArray &type, const QByteArray &body)
{
    socket->write("HTTP/1.1 " + status + "\r\nContent-Type: " + type + "\r\nContent-Length: "
                  + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
    socket->disconnectFromHost();
}

// Writes filler as fast as the peer reads it, never buffering more than one chunk.
void HttpResponder::stream(QTcpSocket *socket, qint64 total)
{
    auto *sent = new qint64(0);
    auto refill = [socket, total, sent] {
        while (socket->bytesToWrite() < kChunkSize && (total < 0 || *sent < total)) {
            const qint64 size = total < 0 ? kChunkSize : qMin(kChunkSize, total - *sent);
            socket->write(QByteArray(int(size), 'A'));
            *sent += size;
        }
        if (total >= 0 && *sent >= total) {
            socket->disconnectFromHost();
        }
    };
    connect(socket, &QTcpSocket::bytesWritten, socket, refill);
    connect(socket, &QObject::destroyed, [sent] { delete sent; });
    refill();
}

void HttpResponder::drip(QTcpSocket *socket, QByteArray rest)
{
    if (rest.isEmpty()) {
        socket->disconnectFromHost();
        return;
    }
    socket->write(rest.left(1));
    QPointer<QTcpSocket> guard(socket);
    QTimer::singleShot(kDripIntervalMs, this, [this, guard, rest] {
        if (guard && guard->state() == QAbstractSocket::ConnectedState) {
            drip(guard, rest.mid(1));
        }
    });
}
