#ifndef REPLYTIMEOUT_H
#define REPLYTIMEOUT_H

#include <QBasicTimer>
#include <QObject>

class QNetworkReply;

// Bounds one HTTP request: when the limit passes while the reply still runs, the reply is closed,
// which finishes it with an error so that whoever waits for it goes on. A child of its reply.
class ReplyTimeout : public QObject
{
    Q_OBJECT
public:
    ReplyTimeout(QNetworkReply *reply, int milliseconds);

protected:
    void timerEvent(QTimerEvent *event) override;

private:
    QBasicTimer m_timer;
};

#endif // REPLYTIMEOUT_H
