#include "desktopnotifier.h"

#include "base/ipv4text.h"
#include "base/logtext.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDebug>
#include <QVariantMap>

namespace {
const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kAppName = QStringLiteral("Lumisweep");
// The server's own time to show it.
constexpr int kDefaultExpiry = -1;

// One line, every control and hiding character written as an escape, cut to the bound.
QString deviceText(const QString &text)
{
    const QString line = LogText::escaped(text, false);
    return line.size() <= DesktopNotifier::kMaxDeviceText
        ? line
        : line.left(DesktopNotifier::kMaxDeviceText - 1) + QChar(0x2026);
}
} // namespace

QString DesktopNotifier::summaryOf(const QString &nameString)
{
    return nameString.isEmpty() ? QStringLiteral("New encoder")
                                : QStringLiteral("New encoder: ") + deviceText(nameString);
}

QString DesktopNotifier::bodyOf(const QString &ipString, const QString &nameString)
{
    const QString name = nameString.isEmpty() ? QStringLiteral("An encoder without a name")
                                              : deviceText(nameString);
    return name.toHtmlEscaped() + QStringLiteral(" answers at ") + ipString;
}

void DesktopNotifier::deviceAppeared(const QString &ipString, const QString &nameString)
{
    const std::optional<quint32> address = Ipv4Text::parse(ipString);
    if (!address) {
        return;
    }
    // Without an address in the environment, the bus library would try to start a bus of its
    // own (autolaunch).
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) {
        unavailable(QStringLiteral("no session bus"));
        return;
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        unavailable(bus.lastError().message());
        return;
    }
    QDBusMessage notify
        = QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("Notify"));
    notify << kAppName << uint(0) << QString() << summaryOf(nameString)
           << bodyOf(Ipv4Text::format(*address), nameString) << QStringList() << QVariantMap()
           << kDefaultExpiry;
    auto *pending = new QDBusPendingCallWatcher(bus.asyncCall(notify), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher *call) {
                if (call->isError()) {
                    unavailable(call->error().message());
                }
                call->deleteLater();
            });
}

void DesktopNotifier::unavailable(const QString &why)
{
    if (!std::exchange(m_toldUnavailable, true)) {
        qInfo().noquote() << "No desktop notifications:" << LogText::quoted(why);
    }
}
