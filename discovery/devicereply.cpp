#include "devicereply.h"

const QString &DeviceReply::macAddressPath()
{
    static const QString path = QStringLiteral("/public/macAddress");
    return path;
}

const QString &DeviceReply::deviceNamePath()
{
    static const QString path = QStringLiteral("/public/deviceName");
    return path;
}

const QString &DeviceReply::fwVersionPath()
{
    static const QString path = QStringLiteral("/public/fw_version");
    return path;
}

QUrl DeviceReply::urlFor(const QString &ipString, const QString &path)
{
    return QUrl::fromUserInput(QStringLiteral("http://%1%2").arg(ipString).arg(path));
}

bool DeviceReply::isAcceptedContentType(const QString &contentType)
{
    return contentType.contains(QLatin1String("application/octet-stream"), Qt::CaseInsensitive);
}

QString DeviceReply::decodeBody(const QByteArray &body, bool utf8)
{
    const int nul = body.indexOf('\0');
    const QByteArray text = nul < 0 ? body : body.left(nul);
    QString decoded = utf8 ? QString::fromUtf8(text) : QString::fromLatin1(text);
    decoded.remove(QLatin1Char('\n'));
    return decoded;
}

QString DeviceReply::pathOf(const QString &urlText)
{
    for (const QString *path : { &deviceNamePath(), &macAddressPath(), &fwVersionPath() }) {
        if (urlText.contains(*path)) {
            return *path;
        }
    }
    return QString();
}

QString DeviceReply::addressOf(const QString &urlText)
{
    const int length = urlText.length() - 25;
    return length > 0 ? urlText.mid(7, length) : QString();
}
