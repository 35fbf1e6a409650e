#include "devicequeries.h"

#include "base/ipv4text.h"
#include "base/logtext.h"
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

void DeviceQueries::ask(const QString &ipString, const QString &macString)
{
    m_records.start(ipString, macString);
    const std::optional<quint32> address = Ipv4Text::parse(ipString);
    if (address && !m_routedAllowed && Ipv4Route().to(*address).kind != Ipv4Route::Kind::OnLink) {
        // Heard on the link, but not on one of its subnets: no answer can come back directly.
        for (const QString &path :
             { DeviceProtocol::deviceNamePath(), DeviceProtocol::fwVersionPath() }) {
            if (const auto row = m_records.store(ipString, path, QString())) {
                emit rowCompleted(*row);
            }
        }
        return;
    }
    send(ipString, DeviceProtocol::deviceNamePath());
    send(ipString, DeviceProtocol::fwVersionPath());
}

void DeviceQueries::forget(const QString &ipString)
{
    m_records.remove(ipString);
    if (const std::optional<quint32> address = Ipv4Text::parse(ipString)) {
        m_forgotten.insert(*address);
        m_waiting.erase(
            std::remove_if(m_waiting.begin(), m_waiting.end(),
                           [&](const Query &query) { return query.address == *address; }),
            m_waiting.end());
    }
}

void DeviceQueries::askMacAddress(const QString &ipString)
{
    send(ipString, DeviceProtocol::macAddressPath());
}

void DeviceQueries::send(const QString &ipString, const QString &path)
{
    if (const std::optional<quint32> address = Ipv4Text::parse(ipString)) {
        m_waiting.enqueue(Query { *address, path });
        sendWaiting();
    }
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
    const QString path = DeviceProtocol::pathOf(reply->url());
    const DeviceProtocol::Answer answer = DeviceProtocol::read(reply);
    if (!path.isEmpty() && answer.kind != DeviceProtocol::Answer::Ignored
        && !m_forgotten.contains(address)) {
        if (const auto row = m_records.store(Ipv4Text::format(address), path, answer.text)) {
            qDebug().noquote().nospace()
                << "IP URL: " << row->ip << ";" << LogText::quoted(row->mac) << ","
                << LogText::quoted(row->fw) << "," << LogText::quoted(row->name);
            emit rowCompleted(*row);
        }
    }
    if (pendingCount() == 0) {
        emit settled();
    }
}

void DeviceQueries::clear()
{
    m_records.clear();
    m_forgotten.clear();
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
