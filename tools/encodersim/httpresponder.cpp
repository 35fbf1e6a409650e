#include "httpresponder.h"

#include "simlog.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

#include <zlib.h>

namespace {

constexpr int kMaxRequestSize = 8192;
constexpr int kChunkSize = 16 * 1024;
constexpr int kDripIntervalMs = 1000;
constexpr int kDripBytes = 300;
constexpr qint64 kBombSize = qint64(1) << 30;
constexpr int kBombInputChunk = 1 << 20;

// A gzip stream of kBombSize zero bytes: about a thousandth of that on the wire.
QByteArray makeGzipBomb()
{
    z_stream stream {};
    // windowBits 31: a gzip header and trailer around the deflate data. Zeros are one long run:
    // Z_RLE gives the same output as the default strategy in half the time.
    if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 31, 9, Z_RLE) != Z_OK) {
        return {};
    }
    const QByteArray zeros(kBombInputChunk, '\0');
    QByteArray output;
    char buffer[64 * 1024];
    for (qint64 fed = 0; fed < kBombSize; fed += kBombInputChunk) {
        const bool last = fed + kBombInputChunk >= kBombSize;
        stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(zeros.constData()));
        stream.avail_in = kBombInputChunk;
        do {
            stream.next_out = reinterpret_cast<Bytef *>(buffer);
            stream.avail_out = sizeof(buffer);
            deflate(&stream, last ? Z_FINISH : Z_NO_FLUSH);
            output.append(buffer, int(sizeof(buffer) - stream.avail_out));
        } while (stream.avail_out == 0);
    }
    deflateEnd(&stream);
    return output;
}

// Header lines for endless-headers, one chunk of them.
QByteArray headerFiller()
{
    const QByteArray line = "X-Filler: " + QByteArray(52, 'A') + "\r\n";
    return line.repeated(kChunkSize / line.size());
}

} // namespace

HttpResponder::HttpResponder(const SimConfig &config, SimLog *log, QObject *parent)
    : QObject(parent), m_config(config), m_log(log)
{
    connect(&m_server, &QTcpServer::newConnection, this, &HttpResponder::onNewConnection);
    for (const EndpointBehaviour &behaviour : config.endpoints) {
        if (behaviour.fault == EndpointBehaviour::Fault::GzipBomb && m_gzipBomb.isEmpty()) {
            QElapsedTimer timer;
            timer.start();
            m_gzipBomb = makeGzipBomb();
            m_log->write(QStringLiteral("gzip bomb: %1 zero bytes in %2 bytes, made in %3 ms")
                             .arg(kBombSize)
                             .arg(m_gzipBomb.size())
                             .arg(timer.elapsed()));
        }
    }
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
    if (++m_requests == m_config.leaveAfterRequests) {
        connect(socket, &QTcpSocket::disconnected, this, &HttpResponder::lastRequestDone);
    }
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
        stream(socket, -1, QByteArray(kChunkSize, 'A'));
        break;
    case Fault::Huge:
        socket->write("HTTP/1.1 200 OK\r\nContent-Type: " + behaviour.contentType
                      + "\r\nContent-Length: " + QByteArray::number(behaviour.argument)
                      + "\r\nConnection: close\r\n\r\n");
        stream(socket, behaviour.argument, QByteArray(kChunkSize, 'A'));
        break;
    case Fault::Drip: {
        // Padded to last minutes: a client that stalls for seconds must still see it unfinished.
        const QByteArray body = behaviour.body.leftJustified(kDripBytes, ' ');
        socket->write("HTTP/1.1 200 OK\r\nContent-Type: " + behaviour.contentType
                      + "\r\nContent-Length: " + QByteArray::number(body.size())
                      + "\r\nConnection: close\r\n\r\n");
        drip(socket, body);
        break;
    }
    case Fault::GzipBomb:
        socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n"
                      "Content-Encoding: gzip\r\nContent-Length: "
                      + QByteArray::number(m_gzipBomb.size()) + "\r\nConnection: close\r\n\r\n"
                      + m_gzipBomb);
        socket->disconnectFromHost();
        break;
    case Fault::EndlessHeaders:
        socket->write("HTTP/1.1 200 OK\r\n");
        stream(socket, -1, headerFiller());
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

// Writes total bytes of filler (endless when negative) as fast as the peer reads them, never
// buffering more than one chunk.
void HttpResponder::stream(QTcpSocket *socket, qint64 total, const QByteArray &filler)
{
    auto *sent = new qint64(0);
    auto refill = [socket, total, sent, filler] {
        while (socket->bytesToWrite() < filler.size() && (total < 0 || *sent < total)) {
            const qint64 size
                = total < 0 ? filler.size() : qMin<qint64>(filler.size(), total - *sent);
            socket->write(filler.constData(), size);
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
