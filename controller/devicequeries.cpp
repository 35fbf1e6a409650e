#include "devicequeries.h"

#include "discovery/boundedbody.h"
#include "discovery/deviceprotocol.h"
#include "discovery/ipv4text.h"
#include "discovery/logtext.h"
#include "discovery/replytimeout.h"

#include <QDebug>
#include <QNetworkAccessManager>
#include <QNetworkReply>

DeviceQueries::DeviceQueries(QNetworkAccessManager *manager, DeviceRecordAssembler *records)
    : m_manager(manager), m_records(records)
{
}

void DeviceQueries::send(const QString &ipString, const QString &path)
{
    if (const std::optional<quint32> address = Ipv4Text::parse(ipString)) {
        m_waiting.enqueue(Query { *address, path });
        sendWaiting();
    }
}

void DeviceQueries::sendWaiting()
{
    while (m_inFlight.size() < kMaxInFlight && !m_waiting.isEmpty()) {
        const Query query = m_waiting.dequeue();
        QNetworkReply *reply = m_manager->get(DeviceProtocol::request(query.address, query.path));
        BoundedBody::attach(reply);
        new ReplyTimeout(reply, kLimitMs);
        m_inFlight.insert(reply);
    }
}

void DeviceQueries::finish(QNetworkReply *reply)
{
    const bool current = m_inFlight.remove(reply);
    sendWaiting();
    if (!current) {
        return;
    }
    const QString path = DeviceProtocol::pathOf(reply->url());
    const DeviceProtocol::Answer answer = DeviceProtocol::read(reply);
    if (!path.isEmpty() && answer.kind != DeviceProtocol::Answer::Ignored) {
        if (const auto row = m_records->store(reply->url().host(), path, answer.text)) {
            emit deviceFound(*row);
            qDebug().noquote().nospace()
                << "IP URL: " << row->ip << ";" << LogText::quoted(row->mac) << ","
                << LogText::quoted(row->fw) << "," << LogText::quoted(row->name);
        }
    }
    if (pendingCount() == 0) {
        emit settled();
    }
}

void DeviceQueries::abortAll()
{
    m_waiting.clear();
    // Taken out first: abort() reports the reply finished at once, and it must not count.
    const QSet<QNetworkReply *> aborted = std::exchange(m_inFlight, {});
    for (QNetworkReply *reply : aborted) {
        reply->abort();
    }
}
