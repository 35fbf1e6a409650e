#include "reachabilityprobe.h"

#include "base/ipv4text.h"
#include "platform/icmpecho.h"

#include <QByteArray>

namespace {

// The echo payload devices of this family expect; the NUL is part of it.
const QByteArray kEchoPayload("wholetsthedogout", 17);
constexpr int kEchoLimitMs = 10;

} // namespace

namespace ReachabilityProbe {

bool echo(quint32 address, int interfaceIndex)
{
    return Ipv4Text::isUnicast(address)
        && IcmpEcho::send(address, kEchoPayload, kEchoLimitMs, interfaceIndex);
}

} // namespace ReachabilityProbe
