#ifndef DEVICEPROTOCOL_H
#define DEVICEPROTOCOL_H

#include "base/deviceanswer.h"

#include <QByteArray>
#include <QNetworkRequest>
#include <QString>

class QNetworkReply;

// The encoders' small HTTP protocol: three GET endpoints answering application/octet-stream.
namespace DeviceProtocol {

constexpr quint16 kPort = 80;

const QString &macAddressPath();
const QString &deviceNamePath();
const QString &fwVersionPath();

// A GET of path on the device at address (host byte order). The URL is built from the
// number, so no text can make it point elsewhere; the device is asked not to compress, since
// a small compressed reply may inflate to gigabytes before any size check sees it.
QNetworkRequest request(quint32 address, const QString &path);
// The endpoint a reply's URL asked for, or an empty string.
QString pathOf(const QUrl &url);

// "application/octet-stream" anywhere in the header, any letter case, parameters allowed.
bool isAcceptedContentType(const QString &contentType);
// Text up to the first NUL byte with every line feed removed; carriage returns stay. The
// device name is UTF-8, the other values Latin-1.
QString decodeBody(const QByteArray &body, const QString &path);
// The whole body in the encoding of its path, as decodeBody reads it, for the log: nothing cut.
QString decodeWhole(const QByteArray &body, const QString &path);

// Reads a finished reply to one of the protocol's requests by the protocol's rules, and logs what
// the device sent.
DeviceAnswer read(QNetworkReply *reply);

} // namespace DeviceProtocol

#endif // DEVICEPROTOCOL_H
