#include "neighbourcensus.h"

#include "netlink_linux.h"

#include <climits>
#include <cstddef>
#include <cstring>
#include <linux/neighbour.h>
#include <linux/rtnetlink.h>
#include <netinet/in.h>
#include <unistd.h>

namespace {

// An entry unchanged for this long is one the kernel drops when it needs room (its own rule);
// the margin covers the time between this read and the kernel's look.
constexpr qint64 kIdleEnoughMs = 5000 + 1000;

template<typename Header> const rtattr *firstAttribute(const nlmsghdr *message, int *length)
{
    *length = int(message->nlmsg_len) - int(NLMSG_LENGTH(sizeof(Header)));
    return reinterpret_cast<const rtattr *>(static_cast<const char *>(NLMSG_DATA(message))
                                            + NLMSG_ALIGN(sizeof(Header)));
}

template<typename Value>
bool copyAttribute(const rtattr *attribute, Value *value, size_t size = sizeof(Value))
{
    if (RTA_PAYLOAD(attribute) < size) {
        return false;
    }
    std::memcpy(value, RTA_DATA(attribute), size);
    return true;
}

} // namespace

NeighbourCensus::NeighbourCensus() : m_netlink(new LinuxNetlink) { }

NeighbourCensus::~NeighbourCensus() = default;

NeighbourCensus::Count NeighbourCensus::read()
{
    Count count;
    count.read = readTable(count) && readReclaimable(count);
    return count;
}

bool NeighbourCensus::readTable(Count &count)
{
    ndtmsg request {};
    request.ndtm_family = AF_INET;
    bool found = false;
    const LinuxNetlink::Result result
        = m_netlink->dump(RTM_GETNEIGHTBL, &request, sizeof(request), [&](const nlmsghdr *message) {
              // The table's own part carries its limits, counts and statistics; the parts for
              // each interface's settings carry none of them.
              if (message->nlmsg_type != RTM_NEWNEIGHTBL) {
                  return true;
              }
              int length = 0;
              int parts = 0;
              Count table;
              for (const rtattr *attribute = firstAttribute<ndtmsg>(message, &length);
                   RTA_OK(attribute, length); attribute = RTA_NEXT(attribute, length)) {
                  quint32 limit = 0;
                  ndt_config config {};
                  quint64 fulls = 0;
                  if (attribute->rta_type == NDTA_THRESH3 && copyAttribute(attribute, &limit)) {
                      table.limit = int(qMin<quint32>(limit, INT_MAX));
                      ++parts;
                  } else if (attribute->rta_type == NDTA_CONFIG
                             && copyAttribute(attribute, &config)) {
                      table.entries = int(qMin<quint32>(config.ndtc_entries, INT_MAX));
                      ++parts;
                  } else if (attribute->rta_type == NDTA_STATS
                             && RTA_PAYLOAD(attribute)
                                 >= offsetof(ndt_stats, ndts_table_fulls) + sizeof(fulls)) {
                      std::memcpy(&fulls,
                                  static_cast<const char *>(RTA_DATA(attribute))
                                      + offsetof(ndt_stats, ndts_table_fulls),
                                  sizeof(fulls));
                      table.tableFulls = fulls;
                      ++parts;
                  }
              }
              if (parts == 3) {
                  count.limit = table.limit;
                  count.entries = table.entries;
                  count.tableFulls = table.tableFulls;
                  found = true;
              }
              return true;
          });
    return result == LinuxNetlink::Result::Read && found;
}

bool NeighbourCensus::readReclaimable(Count &count)
{
    static const long ticksPerSecond = ::sysconf(_SC_CLK_TCK);
    ndmsg request {};
    request.ndm_family = AF_INET;
    int reclaimable = 0;
    const LinuxNetlink::Result result
        = m_netlink->dump(RTM_GETNEIGH, &request, sizeof(request), [&](const nlmsghdr *message) {
              if (message->nlmsg_type != RTM_NEWNEIGH) {
                  return true;
              }
              const auto *entry = static_cast<const ndmsg *>(NLMSG_DATA(message));
              int length = 0;
              nda_cacheinfo info {};
              bool known = false;
              for (const rtattr *attribute = firstAttribute<ndmsg>(message, &length);
                   RTA_OK(attribute, length); attribute = RTA_NEXT(attribute, length)) {
                  if (attribute->rta_type == NDA_CACHEINFO) {
                      known = copyAttribute(attribute, &info);
                  }
              }
              // Only an entry nothing else holds (no timer, no packet waiting) can be dropped;
              // the kernel reports its references less its own.
              if (!known || info.ndm_refcnt != 0 || (entry->ndm_state & NUD_PERMANENT)
                  || (entry->ndm_flags & NTF_EXT_LEARNED)) {
                  return true;
              }
              const qint64 idleMs = qint64(info.ndm_updated) * 1000 / qMax(1L, ticksPerSecond);
              if (entry->ndm_state == NUD_FAILED || entry->ndm_state == NUD_NOARP
                  || idleMs >= kIdleEnoughMs) {
                  ++reclaimable;
              }
              return true;
          });
    count.reclaimable = reclaimable;
    return result == LinuxNetlink::Result::Read;
}
