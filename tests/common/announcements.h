#ifndef ANNOUNCEMENTS_H
#define ANNOUNCEMENTS_H

#include <QDebug>
#include <QElapsedTimer>
#include <QProcess>
#include <QStringList>

#include <memory>
#include <vector>

// mDNS records announced on the test daemon through avahi-publish (run under with-avahi.sh);
// each stays published while its process runs and is withdrawn when this object goes.
class Announcements
{
public:
    ~Announcements()
    {
        for (auto &process : m_processes) {
            // SIGTERM, so that avahi-publish withdraws its records before it goes.
            process->terminate();
            process->waitForFinished(2000);
        }
    }

    static bool daemonAvailable() { return qEnvironmentVariableIsSet("DBUS_SYSTEM_BUS_ADDRESS"); }

    bool address(const QString &host, const QString &address)
    {
        return publish({ QStringLiteral("-a"), QStringLiteral("-R"), host, address });
    }

    bool service(const QString &name, const QString &host, const QStringList &txt)
    {
        return publish(QStringList { QStringLiteral("-s"), QStringLiteral("-H"), host, name,
                                     QStringLiteral("_encoder._tcp"), QStringLiteral("80") }
                       + txt);
    }

private:
    bool publish(const QStringList &arguments)
    {
        m_processes.push_back(std::make_unique<QProcess>());
        QProcess &process = *m_processes.back();
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(QStringLiteral("avahi-publish"), arguments);
        QByteArray output;
        QElapsedTimer timer;
        timer.start();
        while (!output.contains("Established under name") && timer.elapsed() < 5000) {
            if (!process.waitForReadyRead(200) && process.state() == QProcess::NotRunning) {
                break;
            }
            output += process.readAll();
        }
        if (!output.contains("Established under name")) {
            qWarning() << "avahi-publish" << arguments << "failed:" << output;
            return false;
        }
        return true;
    }

    std::vector<std::unique_ptr<QProcess>> m_processes;
};

#endif // ANNOUNCEMENTS_H
