#ifndef IDENTIFYCOMMAND_H
#define IDENTIFYCOMMAND_H

#include <QString>

// Tells a device to blink its LED: one TCP connection, the command's bytes, then close. The
// device answers nothing.
namespace IdentifyCommand {

constexpr quint16 kPort = 1300;
constexpr int kConnectTimeoutMs = 5000;
QString command();

// Sends command once to ip:port; true when every byte was handed to the connection. ip must be a
// dotted-quad IPv4 address: nothing is looked up, and anything else sends nothing.
bool send(const QString &ip, quint16 port, const QString &command);

} // namespace IdentifyCommand

#endif // IDENTIFYCOMMAND_H
