#ifndef SIMLOG_H
#define SIMLOG_H

#include <QFile>
#include <QString>

// The simulator's own log, one line per event, so a test can see what a device was asked.
class SimLog
{
public:
    explicit SimLog(const QString &fileName);
    void write(const QString &line);

private:
    QFile m_file;
};

#endif // SIMLOG_H
