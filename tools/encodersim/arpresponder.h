#ifndef ARPRESPONDER_H
#define ARPRESPONDER_H

#include "simconfig.h"

#include <QObject>

class QSocketNotifier;
class SimLog;

// Answers ARP requests from user space through a packet socket: for the device's own address
// (its interface has ARP switched off) late or only after ignoring the first few, or for a whole
// range of foreign addresses. Also announces the address, as a device does when it boots.
class ArpResponder : public QObject
{
    Q_OBJECT
public:
    ArpResponder(const SimConfig &config, SimLog *log, QObject *parent = nullptr);
    ~ArpResponder() override;
    bool start(QString *error);
    // Claims the device's address with count gratuitous requests, two seconds apart, the first
    // at once (RFC 5227's announcements).
    void announce(int count);

private:
    void onReadable();
    void sendReply(const QByteArray &request);
    void sendFrame(const char *frame, const unsigned char *destination);

    const SimConfig &m_config;
    SimLog *m_log;
    int m_socket = -1;
    int m_interfaceIndex = 0;
    int m_dropped = 0;
    QSocketNotifier *m_notifier = nullptr;
};

#endif // ARPRESPONDER_H
