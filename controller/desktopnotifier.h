#ifndef DESKTOPNOTIFIER_H
#define DESKTOPNOTIFIER_H

#include <QObject>
#include <QString>

// Tells the desktop of a new encoder through the freedesktop notification service
// (org.freedesktop.Notifications) on the session bus. Where no session bus or no such service
// is there, nothing is shown, and the log says so once. The call never waits for its answer: a
// service that hangs must not freeze the window.
class DesktopNotifier : public QObject
{
    Q_OBJECT
public:
    // Device text this long at most goes into a notification.
    static constexpr int kMaxDeviceText = 64;

    using QObject::QObject;

    // ipString: the device's address (nothing is shown unless it is one); nameString: what
    // the device calls itself, untrusted.
    void deviceAppeared(const QString &ipString, const QString &nameString);

    // The notification's summary (plain text) and body (the service may read markup in it).
    static QString summaryOf(const QString &nameString);
    static QString bodyOf(const QString &ipString, const QString &nameString);

private:
    void unavailable(const QString &why);

    bool m_toldUnavailable = false;
};

#endif // DESKTOPNOTIFIER_H
