#include "devicequeries.h"

#include "discovery/boundedbody.h"
#include "discovery/deviceprotocol.h"
#include "discovery/replytimeout.h"
#include "platform/ipv4route.h"

#include <QDebug>
#include <QNetworkAccessManager>
#include <QNetworkReply>

DeviceQueries::DeviceQueries() = default;

// The managers are children: they go, and abort what is in flight, once no signal reaches here.
DeviceQueries::~DeviceQueries() = default;

bool DeviceQueries::ask(quint32 address)
{
    if (!m_routedAllowed && Ipv4Route().to(address).kind != Ipv4Route::Kind::OnLink) {
        return false;
    }
    send(address, DeviceProtocol::deviceNamePath());
    send(address, DeviceProtocol::fwVersionPath());
    return true;
}

void DeviceQueries::cancel(quint32 address)
{
    m_waiting.erase(std::remove_if(m_waiting.begin(), m_waiting.end(),
                                   [&](const Query &query) { return query.address == address; }),
                    m_waiting.end());
}

void DeviceQueries::askMacAddress(quint32 address)
{
    send(address, DeviceProtocol::macAddressPath());
}

void DeviceQueries::send(quint32 address, const QString &path)
{
    m_waiting.enqueue(Query { address, path });
    sendWaiting();
}

QNetworkAccessManager *DeviceQueries::managerFor(quint32 address)
{
    QNetworkAccessManager *&manager = m_managers[address];
    if (!manager) {
        manager = new QNetworkAccessManager(this);
        connect(manager, &QNetworkAccessManager::finished, this, &DeviceQueries::onFinished);
    }
    return manager;
}

void DeviceQueries::releaseManager(quint32 address)
{
    if (std::find(m_inFlight.cbegin(), m_inFlight.cend(), address) == m_inFlight.cend()) {
        // Later: it is still emitting the finished() that brought us here.
        m_managers.take(address)->deleteLater();
    }
}

void DeviceQueries::sendWaiting()
{
    while (m_inFlight.size() < kMaxInFlight && !m_waiting.isEmpty()) {
        const Query query = m_waiting.dequeue();
        QNetworkReply *reply
            = managerFor(query.address)->get(DeviceProtocol::request(query.address, query.path));
        BoundedBody::attach(reply);
        new ReplyTimeout(reply, kLimitMs);
        m_inFlight.insert(reply, query.address);
    }
}

void DeviceQueries::onFinished(QNetworkReply *reply)
{
    // Each reply is handled once; released with the event loop's next turn.
    reply->deleteLater();
    qDebug().noquote().nospace() << "onHttpFinished: " << reply->url().toString();
    const auto found = m_inFlight.constFind(reply);
    if (found == m_inFlight.cend()) {
        return; // aborted with an earlier scan
    }
    const quint32 address = *found;
    m_inFlight.erase(found);
    releaseManager(address);
    sendWaiting();
    emit answered(address, DeviceProtocol::read(reply));
    if (pendingCount() == 0) {
        emit settled();
    }
}

void DeviceQueries::clear()
{
    m_waiting.clear();
    // Taken out first: abort() reports the reply finished at once, and it must not count.
    const QList<QNetworkReply *> aborted = m_inFlight.keys();
    m_inFlight.clear();
    for (QNetworkReply *reply : aborted) {
        reply->abort();
    }
    for (QNetworkAccessManager *manager : qAsConst(m_managers)) {
        manager->deleteLater();
    }
    m_managers.clear();
}
