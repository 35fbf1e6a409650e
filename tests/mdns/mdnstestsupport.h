#ifndef MDNSTESTSUPPORT_H
#define MDNSTESTSUPPORT_H

#include "discovery/bonjourwinservice.h"

#include <QObject>
#include <QStringList>

#include <algorithm>
#include <mutex>
#include <utility>
#include <vector>

// The program's log lines, from every thread. std::mutex rather than QMutex: a thread sanitizer
// sees the former.
class LogCapture
{
public:
    static void install() { s_previous = qInstallMessageHandler(&capture); }
    static int matching(const QString &part)
    {
        std::lock_guard<std::mutex> lock(s_mutex);
        return s_lines.filter(part).size();
    }
    static QStringList take()
    {
        std::lock_guard<std::mutex> lock(s_mutex);
        return std::exchange(s_lines, QStringList());
    }

private:
    static void capture(QtMsgType type, const QMessageLogContext &context, const QString &line)
    {
        {
            std::lock_guard<std::mutex> lock(s_mutex);
            s_lines.append(line);
        }
        s_previous(type, context, line);
    }
    static inline std::mutex s_mutex;
    static inline QStringList s_lines;
    static inline QtMessageHandler s_previous = nullptr;
};

// What the service reports, received as the Controller receives it: queued into this thread. (A
// QSignalSpy would record in the browse thread while the test reads in its own.)
class ServiceReports : public QObject
{
public:
    struct Report
    {
        QString ip, mac, fw, name;
    };

    explicit ServiceReports(BonjourWinService *service)
    {
        connect(
            service, &BonjourWinService::deviceMacFound, this,
            [this](QString ip, QString mac, QString fw, QString name) {
                found.push_back({ ip, mac, fw, name });
            },
            Qt::QueuedConnection);
        connect(
            service, &BonjourWinService::showWarningMessage, this,
            [this](QString message, int type) {
                warnings.push_back({ message, type });
            },
            Qt::QueuedConnection);
    }

    int countStartingWith(const QString &prefix) const
    {
        return int(std::count_if(found.begin(), found.end(),
                                 [&](const Report &r) { return r.name.startsWith(prefix); }));
    }

    std::vector<Report> found;
    std::vector<std::pair<QString, int>> warnings;
};

#endif // MDNSTESTSUPPORT_H
