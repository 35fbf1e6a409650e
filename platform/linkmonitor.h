#ifndef LINKMONITOR_H
#define LINKMONITOR_H

#include <QObject>
#include <QString>

#include <memory>
#include <string>
#include <vector>

class LinkWatch;
class QSocketNotifier;

// The interface a watch listens on, followed by its name for as long as this lives: whether it is
// up, with a carrier, and holds the watched address, told as the kernel reports each change. An
// interface that was removed and made again (a USB adapter plugged back in) is the same one when
// it has the same name.
class LinkMonitor : public QObject
{
    Q_OBJECT
public:
    enum class Status { Present, Lost };
    Q_ENUM(Status)

    // address in host byte order.
    LinkMonitor(const QString &interfaceName, quint32 address, QObject *parent = nullptr);
    ~LinkMonitor() override;

    // False when the kernel's notices cannot be had: nothing will be reported.
    bool isOpen() const { return m_notifier != nullptr; }
    Status status() const { return m_status; }
    // The interface's index now; 0 while there is none by that name.
    int interfaceIndex() const { return m_index; }
    // Asks the kernel now rather than at its next notice, which may still be on its way: for a
    // caller that must know before it acts (statusChanged follows at once when it changed).
    void look();

signals:
    void statusChanged(LinkMonitor::Status status);
    // While the watched address is away, the interface, up, was given another one: it will not
    // come back as it was.
    void readdressed(quint32 address);

private:
    struct Seen
    {
        bool up = false; // up, with a carrier
        bool holds = false; // the watched address is the interface's
        std::vector<quint32> addresses;
    };
    Seen see();

    const std::string m_name;
    const quint32 m_address;
    std::unique_ptr<LinkWatch> m_watch;
    std::unique_ptr<QSocketNotifier> m_notifier;
    Status m_status = Status::Lost;
    int m_index = 0;
    // The interface's addresses at the last look: one added since is a new one.
    std::vector<quint32> m_addresses;
};

#endif // LINKMONITOR_H
