#ifndef BOUNDEDBODY_H
#define BOUNDEDBODY_H

#include <QByteArray>
#include <QNetworkReply>
#include <QObject>

// Keeps at most a fixed number of body bytes of a device reply. A device that sends an endless
// or huge body is cut off at the limit: the transfer is aborted and what was read stands as the
// answer, so one hostile device cannot exhaust the program's memory.
class BoundedBody : public QObject
{
    Q_OBJECT
public:
    static constexpr qint64 kDefaultLimit = 64 * 1024;

    static void attach(QNetworkReply *reply, qint64 limit = kDefaultLimit);
    // The reply's error, except that a transfer cut at the limit counts as answered.
    static QNetworkReply::NetworkError error(QNetworkReply *reply);
    // The body read so far and what is still buffered, never more than the limit.
    static QByteArray readAll(QNetworkReply *reply);

private:
    BoundedBody(QNetworkReply *reply, qint64 limit);
    void onReadyRead();
    void readAvailable();

    QNetworkReply *m_reply;
    qint64 m_limit;
    QByteArray m_body;
    bool m_cut = false;
};

#endif // BOUNDEDBODY_H
