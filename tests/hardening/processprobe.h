#ifndef PROCESSPROBE_H
#define PROCESSPROBE_H

#include <QElapsedTimer>
#include <QFile>
#include <QObject>
#include <QTimer>

// What the hardening tests watch in their own process: the longest stall of the GUI thread's
// event loop, the peak resident memory and the thread count.
class ProcessProbe : public QObject
{
public:
    ProcessProbe()
    {
        m_clock.start();
        m_heartbeat.setTimerType(Qt::PreciseTimer);
        connect(&m_heartbeat, &QTimer::timeout, this, [this] {
            const qint64 now = m_clock.elapsed();
            if (m_last >= 0 && now - m_last > m_longestStallMs && m_watching) {
                m_longestStallMs = now - m_last;
            }
            m_last = now;
        });
        m_heartbeat.start(5);
    }

    // Stalls caused on purpose (a blocking call the test makes itself) are not counted.
    void pause() { m_watching = false; }
    void resume()
    {
        m_last = -1;
        m_watching = true;
    }
    qint64 longestStallMs() const { return m_longestStallMs; }

    static qint64 statusKiB(const char *field)
    {
        QFile status(QStringLiteral("/proc/self/status"));
        if (!status.open(QIODevice::ReadOnly)) {
            return -1;
        }
        const QByteArray prefix = QByteArray(field) + ':';
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith(prefix)) {
                return line.mid(prefix.size()).trimmed().split(' ').value(0).toLongLong();
            }
        }
        return -1;
    }
    // 100 ms is what a user notices, 200 MB what a small tool may take. Sanitizer builds run
    // several times slower and bigger, and may say so.
    static qint64 stallLimitMs() { return limit("LUMISWEEP_STALL_LIMIT_MS", 100); }
    static qint64 memoryLimitMiB() { return limit("LUMISWEEP_MEMORY_LIMIT_MB", 200); }
    static qint64 peakRssMiB() { return statusKiB("VmHWM") / 1024; }
    static int threadCount() { return int(statusKiB("Threads")); }

private:
    static qint64 limit(const char *variable, qint64 fallback)
    {
        const int asked = qEnvironmentVariableIntValue(variable);
        return asked > 0 ? asked : fallback;
    }

    QTimer m_heartbeat;
    QElapsedTimer m_clock;
    qint64 m_last = -1;
    qint64 m_longestStallMs = 0;
    bool m_watching = true;
};

#endif // PROCESSPROBE_H
