#include "simlog.h"

#include <QDateTime>

SimLog::SimLog(const QString &fileName) : m_file(fileName)
{
    if (!fileName.isEmpty()) {
        m_file.open(QIODevice::Append | QIODevice::Text);
    }
}

void SimLog::write(const QString &line)
{
    const QByteArray text = QDateTime::currentDateTime().toString(Qt::ISODateWithMs).toUtf8() + ' '
        + line.toUtf8() + '\n';
    if (m_file.isOpen()) {
        m_file.write(text);
        m_file.flush();
    } else {
        fputs(text.constData(), stderr);
    }
}
