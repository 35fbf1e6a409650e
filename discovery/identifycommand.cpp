#include "identifycommand.h"

#include "base/ipv4text.h"

#include <QDebug>
#include <QHostAddress>
#include <QTcpSocket>

namespace IdentifyCommand {

QString command()
{
    return QStringLiteral("c0cmdset_identify-led");
}

bool send(const QString &ip, quint16 port, const QString &command)
{
    QTcpSocket socket;
    qint64 written = 0;
    const std::optional<quint32> address = Ipv4Text::parse(ip);
    bool connected = false;
    if (address) {
        socket.connectToHost(QHostAddress(*address), port, QIODevice::ReadWrite);
        connected = socket.waitForConnected(kConnectTimeoutMs);
    }
    if (connected) {
        qDebug().noquote().nospace() << "sendTCPCommand " << ip << " " << port;
        const QByteArray bytes = command.toLatin1();
        written = socket.write(bytes.constData(), command.length());
        qDebug().noquote().nospace() << "sendTCPCommand "
                                     << "write bytes " << written;
        socket.flush();
        socket.disconnectFromHost();
    } else {
        qDebug().noquote().nospace() << "sendTCPCommand "
                                     << "Connection Failed!";
    }
    return written == command.length();
}

} // namespace IdentifyCommand
