#include "replytimeout.h"

#include <QNetworkReply>
#include <QTimerEvent>

ReplyTimeout::ReplyTimeout(QNetworkReply *reply, int milliseconds) : QObject(reply)
{
    if (reply && reply->isRunning()) {
        m_timer.start(milliseconds, this);
    }
}

void ReplyTimeout::timerEvent(QTimerEvent *event)
{
    if (!m_timer.isActive() || event->timerId() != m_timer.timerId()) {
        return;
    }
    auto *reply = static_cast<QNetworkReply *>(parent());
    if (reply->isRunning()) {
        reply->close();
    }
    m_timer.stop();
}
