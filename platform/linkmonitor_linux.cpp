#include "linkmonitor.h"

#include "platform/linkwatch_linux.h"

#include <QSocketNotifier>

#include <algorithm>
#include <net/if.h>
#include <utility>

LinkMonitor::LinkMonitor(const QString &interfaceName, quint32 address, QObject *parent)
    : QObject(parent)
    , m_name(interfaceName.toStdString())
    , m_address(address)
    , m_watch(std::make_unique<LinkWatch>())
{
    if (m_watch->isOpen()) {
        m_notifier
            = std::make_unique<QSocketNotifier>(m_watch->noticeSocket(), QSocketNotifier::Read);
        connect(m_notifier.get(), &QSocketNotifier::activated, this, [this] {
            // Any notice may concern the interface by its name (one made again has another
            // index): the kernel is asked again whatever the notice was about.
            m_watch->takeNotices(m_index);
            look();
        });
    }
    const Seen seen = see();
    m_status = seen.up && seen.holds ? Status::Present : Status::Lost;
    m_addresses = seen.addresses;
}

LinkMonitor::~LinkMonitor() = default;

LinkMonitor::Seen LinkMonitor::see()
{
    Seen seen;
    const std::optional<LinkWatch::Interface> link = m_watch->find(m_name);
    m_index = link ? link->index : 0;
    if (link) {
        seen.up = (link->flags & (IFF_UP | IFF_RUNNING)) == (IFF_UP | IFF_RUNNING);
        seen.addresses = m_watch->addressesOf(link->index).value_or(std::vector<quint32>());
        seen.holds = std::find(seen.addresses.cbegin(), seen.addresses.cend(), m_address)
            != seen.addresses.cend();
    }
    return seen;
}

void LinkMonitor::look()
{
    const Seen seen = see();
    const std::vector<quint32> before = std::exchange(m_addresses, seen.addresses);
    const Status now = seen.up && seen.holds ? Status::Present : Status::Lost;
    if (now != m_status) {
        m_status = now;
        emit statusChanged(now);
    }
    if (now == Status::Present || !seen.up) {
        return;
    }
    // One notice may bring the watched address's removal and the new one's arrival together.
    for (const quint32 address : seen.addresses) {
        if (std::find(before.cbegin(), before.cend(), address) == before.cend()) {
            emit readdressed(address);
            return;
        }
    }
}
