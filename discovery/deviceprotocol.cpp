#include "deviceprotocol.h"

#include "discovery/boundedbody.h"
#include "base/logtext.h"

#include <QDebug>
#include <QHostAddress>
#include <QNetworkReply>
#include <QUrl>

namespace DeviceProtocol {

const QString &macAddressPath()
{
    static const QString path = QStringLiteral("/public/macAddress");
    return path;
}

const QString &deviceNamePath()
{
    static const QString path = QStringLiteral("/public/deviceName");
    return path;
}

const QString &fwVersionPath()
{
    static const QString path = QStringLiteral("/public/fw_version");
    return path;
}

QNetworkRequest request(quint32 address, const QString &path)
{
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(QHostAddress(address).toString());
    url.setPath(path);
    QNetworkRequest request(url);
    request.setRawHeader("Accept-Encoding", "identity");
    return request;
}

QString pathOf(const QUrl &url)
{
    const QString path = url.path();
    for (const QString *known : { &deviceNamePath(), &macAddressPath(), &fwVersionPath() }) {
        if (path == *known) {
            return *known;
        }
    }
    return QString();
}

bool isAcceptedContentType(const QString &contentType)
{
    return contentType.contains(QLatin1String("application/octet-stream"), Qt::CaseInsensitive);
}

QString decodeBody(const QByteArray &body, const QString &path)
{
    const int nul = body.indexOf('\0');
    QString decoded = decodeWhole(nul < 0 ? body : body.left(nul), path);
    decoded.remove(QLatin1Char('\n'));
    return decoded;
}

QString decodeWhole(const QByteArray &body, const QString &path)
{
    return path == deviceNamePath() ? QString::fromUtf8(body) : QString::fromLatin1(body);
}

DeviceAnswer read(QNetworkReply *reply)
{
    const QString path = pathOf(reply->url());
    DeviceAnswer answer;
    answer.endpoint = path == deviceNamePath()
        ? DeviceAnswer::Endpoint::DeviceName
        : (path == fwVersionPath() ? DeviceAnswer::Endpoint::FwVersion
                                   : DeviceAnswer::Endpoint::MacAddress);
    if (BoundedBody::error(reply) != QNetworkReply::NoError) {
        answer.kind = DeviceAnswer::Kind::Failed;
        return answer;
    }
    const QString contentType = reply->header(QNetworkRequest::ContentTypeHeader).toString();
    qDebug().noquote().nospace() << "contentTypeHeader: " << LogText::quoted(contentType);
    // Asked for identity, a device that compresses anyway sends what no limit here can bound.
    const QByteArray encoding = reply->rawHeader("Content-Encoding").trimmed().toLower();
    if (!encoding.isEmpty() && encoding != "identity") {
        qDebug().noquote().nospace()
            << "contentEncoding: " << LogText::quoted(encoding) << " (not accepted)";
        return answer;
    }
    if (path.isEmpty() || !isAcceptedContentType(contentType)) {
        return answer;
    }
    const QByteArray body = BoundedBody::readAll(reply);
    qDebug().noquote().nospace() << "Data: " << LogText::quoted(decodeWhole(body, path));
    answer.kind = DeviceAnswer::Kind::Value;
    answer.text = decodeBody(body, path);
    return answer;
}

} // namespace DeviceProtocol
