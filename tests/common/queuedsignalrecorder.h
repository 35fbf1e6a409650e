#ifndef QUEUEDSIGNALRECORDER_H
#define QUEUEDSIGNALRECORDER_H

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QList>
#include <QObject>
#include <QTimer>
#include <QVariant>

// Records the emissions of one signal with QSignalSpy's conveniences, but receives them as the
// Controller does: with the automatic connection type, so an emission from a worker thread is
// queued into the thread the recorder lives in and is appended there. A QSignalSpy appends in
// whatever thread emits, while the test reads its list in its own: a data race.
class QueuedSignalRecorder : public QObject
{
public:
    using Record = QList<QVariant>;

    template<typename Sender, typename... Args>
    QueuedSignalRecorder(const Sender *sender, void (Sender::*signal)(Args...))
    {
        connect(sender, signal, this,
                [this](Args... args) { append(Record { QVariant::fromValue(args)... }); });
    }

    int count() const { return m_records.size(); }
    int size() const { return m_records.size(); }
    bool isEmpty() const { return m_records.isEmpty(); }
    const Record &at(int i) const { return m_records.at(i); }
    QList<Record>::const_iterator begin() const { return m_records.constBegin(); }
    QList<Record>::const_iterator end() const { return m_records.constEnd(); }

    // Forgets every emission so far, also those still queued for delivery, so that what follows
    // is recorded alone.
    void clear()
    {
        QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
        m_records.clear();
    }

    // Runs the event loop until a new emission is recorded or timeoutMs has passed; true when one
    // was recorded.
    bool wait(int timeoutMs = 5000)
    {
        const int before = m_records.size();
        QEventLoop loop;
        QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
        m_loop = &loop;
        loop.exec();
        m_loop = nullptr;
        return m_records.size() > before;
    }

private:
    void append(Record record)
    {
        m_records.append(record);
        if (m_loop) {
            m_loop->quit();
        }
    }

    QList<Record> m_records;
    QEventLoop *m_loop = nullptr;
};

#endif // QUEUEDSIGNALRECORDER_H
