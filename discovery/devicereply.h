#ifndef DEVICEREPLY_H
#define DEVICEREPLY_H

#include <QByteArray>
#include <QString>
#include <QUrl>

// The encoders' small HTTP protocol: three GET endpoints answering application/octet-stream.
class DeviceReply
{
public:
    static const QString &macAddressPath();
    static const QString &deviceNamePath();
    static const QString &fwVersionPath();

    static QUrl urlFor(const QString &ipString, const QString &path);
    // "application/octet-stream" anywhere in the header, any letter case, parameters allowed.
    static bool isAcceptedContentType(const QString &contentType);
    // Text up to the first NUL byte with every line feed removed; carriage returns stay.
    static QString decodeBody(const QByteArray &body, bool utf8);
    // The first endpoint path that occurs in a reply's URL text, or an empty string.
    static QString pathOf(const QString &urlText);
    // All endpoint paths are 18 characters long, so the address sits between "http://" and them.
    static QString addressOf(const QString &urlText);
};

#endif // DEVICEREPLY_H
