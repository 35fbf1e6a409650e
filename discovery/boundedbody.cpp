#include "boundedbody.h"

BoundedBody::BoundedBody(QNetworkReply *reply, qint64 limit)
    : QObject(reply), m_reply(reply), m_limit(limit)
{
    // Qt stops reading from the socket once this much is buffered, so nothing piles up even
    // before readyRead is handled.
    reply->setReadBufferSize(limit);
    connect(reply, &QNetworkReply::readyRead, this, &BoundedBody::onReadyRead);
}

void BoundedBody::attach(QNetworkReply *reply, qint64 limit)
{
    if (reply && !reply->findChild<BoundedBody *>(QString(), Qt::FindDirectChildrenOnly)) {
        new BoundedBody(reply, limit);
    }
}

QNetworkReply::NetworkError BoundedBody::error(QNetworkReply *reply)
{
    const auto *bounded = reply->findChild<BoundedBody *>(QString(), Qt::FindDirectChildrenOnly);
    if (bounded && bounded->m_cut) {
        return QNetworkReply::NoError;
    }
    return reply->error();
}

QByteArray BoundedBody::readAll(QNetworkReply *reply)
{
    auto *bounded = reply->findChild<BoundedBody *>(QString(), Qt::FindDirectChildrenOnly);
    if (!bounded) {
        return reply->read(kDefaultLimit);
    }
    bounded->readAvailable();
    return bounded->m_body;
}

void BoundedBody::readAvailable()
{
    if (m_body.size() < m_limit && m_reply->isOpen()) {
        m_body += m_reply->read(m_limit - m_body.size());
    }
}

void BoundedBody::onReadyRead()
{
    if (m_cut) {
        return;
    }
    readAvailable();
    if (m_body.size() >= m_limit) {
        m_cut = true;
        // abort() finishes the reply at once; error() above reports the cut body as an answer.
        m_reply->abort();
    }
}
