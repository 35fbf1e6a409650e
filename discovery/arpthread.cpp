#include "arpthread.h"

#include "bonjourwinservice.h"
#include "boundedbody.h"
#include "devicereply.h"
#include "replytimeout.h"
#include "platform/arpresolver.h"
#include "platform/ipv4address.h"

#include <QDeadlineTimer>
#include <QDebug>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

namespace {

QString macText(const QByteArray &mac)
{
    const auto *bytes = reinterpret_cast<const unsigned char *>(mac.constData());
    return QString::asprintf("%.2X-%.2X-%.2X-%.2X-%.2X-%.2X", bytes[0], bytes[1], bytes[2],
                             bytes[3], bytes[4], bytes[5]);
}

} // namespace

ARPThread::ARPThread(BonjourWinService *service, int startIndex, int count, bool httpProbe)
    : m_startIndex(startIndex), m_count(count), m_httpProbe(httpProbe), m_service(service)
{
    setStackSize(kStackSize);
}

void ARPThread::requestStop()
{
    {
        QMutexLocker locker(&m_pauseMutex);
        m_stopRequested.store(true, std::memory_order_release);
        m_pauseEnded.wakeAll();
    }
    // Ends the event loop of a probe in flight; a loop not yet entered returns at once.
    exit(0);
}

void ARPThread::waitUntilEnded()
{
    wait();
    [[maybe_unused]] const bool ended = m_runEnded.load(std::memory_order_acquire);
}

void ARPThread::run()
{
    if (m_httpProbe) {
        runHttpProbe();
    } else {
        runArp();
    }
    m_runEnded.store(true, std::memory_order_release);
}

void ARPThread::pause(int milliseconds)
{
    QDeadlineTimer deadline(milliseconds);
    QMutexLocker locker(&m_pauseMutex);
    while (!stopRequested() && !deadline.hasExpired()) {
        m_pauseEnded.wait(&m_pauseMutex, deadline);
    }
}

void ARPThread::runArp()
{
    for (int i = 0; i < m_count && !stopRequested(); ++i) {
        const QString ipString = m_service->addressAt(m_startIndex + i);
        quint32 address = 0;
        const bool sendable
            = Ipv4Address::parse(ipString, &address) && Ipv4Address::isUnicast(address);
        ArpResolver resolver(address);
        if (sendable && !resolver.reserve(m_stopRequested)) {
            return; // stopped while waiting for room in the neighbour table
        }
        m_service->pingIP(ipString, false);

        QByteArray mac;
        const bool answered = sendable && resolver.resolve(&mac, m_stopRequested);
        // An address cut short by a stop is not finished: the stop reports the end itself.
        if (stopRequested()) {
            return;
        }
        if (answered) {
            emit m_service->deviceMacFound(ipString, macText(mac), QString(), QString());
        }
        m_service->finishAddress();
        if (i + 1 < m_count) {
            pause(kPauseMs);
        }
    }
}

void ARPThread::runHttpProbe()
{
    QEventLoop loop;
    for (int i = 0; i < m_count && !stopRequested(); ++i) {
        // A fresh manager per address keeps no connection or cache state between devices.
        QNetworkAccessManager manager;
        connect(
            &manager, &QNetworkAccessManager::finished, this,
            [this, &loop](QNetworkReply *reply) { onProbeFinished(reply, &loop); },
            Qt::DirectConnection);
        const QString ipString = m_service->addressAt(m_startIndex + i);
        quint32 address = 0;
        // Anything but an address would make the manager look the text up as a host name.
        if (!Ipv4Address::parse(ipString, &address) || !Ipv4Address::isUnicast(address)) {
            m_service->finishAddress();
            continue;
        }
        QNetworkReply *reply = manager.get(
            QNetworkRequest(DeviceReply::urlFor(ipString, DeviceReply::macAddressPath())));
        BoundedBody::attach(reply);
        new ReplyTimeout(reply, kProbeLimitMs);
        loop.exec();
        if (stopRequested()) {
            // The reply dies with the manager; its late finished must not count the address.
            manager.disconnect(this);
            return;
        }
    }
}

void ARPThread::onProbeFinished(QNetworkReply *reply, QEventLoop *loop)
{
    if (BoundedBody::error(reply) == QNetworkReply::NoError) {
        const QString contentType = reply->header(QNetworkRequest::ContentTypeHeader).toString();
        qDebug().noquote().nospace() << "contentTypeHeader: " << contentType;
        if (DeviceReply::isAcceptedContentType(contentType)) {
            const QString urlText = reply->url().toString();
            const QByteArray body = BoundedBody::readAll(reply);
            qDebug().nospace() << "Data: " << body;
            emit m_service->deviceMacFound(DeviceReply::addressOf(urlText),
                                           DeviceReply::decodeBody(body, false), QString(),
                                           QString());
        }
    }
    if (!stopRequested()) {
        m_service->finishAddress();
    }
    loop->quit();
}
