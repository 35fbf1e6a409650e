#ifndef NEIGHBOURSHARE_H
#define NEIGHBOURSHARE_H

#include <QtGlobal>

// How much of the kernel's neighbour table a sweep may take: the rule behind the pace of every
// unprivileged ARP sweep, apart from the netlink reads so that it can be checked without root.
//
// The table is one for the whole machine, every namespace included. An address being resolved
// holds an entry the kernel cannot drop until its requests are done; when such entries reach the
// table's limit, the kernel refuses new ones, for every program on the machine. So a sweep looks
// at the table itself, not at what it has sent: its own entries, other sweeps', everyone's. A
// quarter of the limit is left to the rest of the machine. Of what is free below that, a sweep
// takes a quarter and then looks again; sweeps that look at the same moment therefore still fit,
// and each one's share follows what the others take.
namespace NeighbourShare {

// One look at the table.
struct Table
{
    int limit = 0; // the most entries before the kernel refuses new ones
    int entries = 0; // of every namespace
    int reclaimable = 0; // entries the kernel would drop rather than refuse a new one
};

// Looks at the table are at least this far apart, however many workers wait for room.
constexpr int kLookGapMs = 20;

// How many more addresses the sweep may start resolving before it looks again, while it holds
// held entries that may still be unresolved (some of them perhaps not in the table yet).
int room(const Table &table, int held);
// Whether to look at the table again, sinceLookMs after the latest look (negative: none yet),
// with roomLeft of what that look gave still unused.
bool lookDue(qint64 sinceLookMs, int roomLeft);

} // namespace NeighbourShare

#endif // NEIGHBOURSHARE_H
