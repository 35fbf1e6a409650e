#ifndef SERVICEREPORTS_H
#define SERVICEREPORTS_H

#include "discovery/bonjourwinservice.h"

#include <QObject>
#include <QPair>
#include <QString>

#include <algorithm>
#include <vector>

// What the discovery service reports, received the way the Controller receives it: queued into
// the thread that owns this object. (A QSignalSpy would record in the browse thread while the
// test reads in its own.)
class ServiceReports : public QObject
{
public:
    struct Report
    {
        QString ip;
        QString mac;
        QString fw;
        QString name;
    };

    explicit ServiceReports(BonjourWinService *service)
    {
        connect(
            service, &BonjourWinService::deviceMacFound, this,
            [this](const QString &ip, const QString &mac, const QString &fw, const QString &name) {
                found.push_back({ ip, mac, fw, name });
            },
            Qt::QueuedConnection);
        connect(
            service, &BonjourWinService::showWarningMessage, this,
            [this](const QString &message, int type) {
                warnings.push_back({ message, type });
            },
            Qt::QueuedConnection);
    }

    int countNamed(const QString &name) const
    {
        return static_cast<int>(std::count_if(found.begin(), found.end(),
                                              [&](const Report &r) { return r.name == name; }));
    }

    std::vector<Report> found;
    std::vector<QPair<QString, int>> warnings;
};

#endif // SERVICEREPORTS_H
