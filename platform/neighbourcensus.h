#ifndef NEIGHBOURCENSUS_H
#define NEIGHBOURCENSUS_H

#include <QtGlobal>

#include <memory>

class LinuxNetlink;

// How full the kernel's ARP table is, read over rtnetlink without privileges. The table is one
// for the whole machine: the entries of every namespace count against its limit, and each entry
// it refused is counted in its table_fulls. It only reads; how much of the table a sweep may
// take is decided above this layer.
class NeighbourCensus
{
public:
    struct Count
    {
        bool read = false; // false: the kernel could not be asked, and nothing below holds
        int limit = 0; // gc_thresh3: beyond it a new entry needs one the kernel can drop
        int entries = 0; // of every namespace
        // Of this namespace: entries the kernel drops when it needs room (failed, or idle and
        // unused), rather than refuse a new one. Other namespaces cannot be looked into.
        int reclaimable = 0;
        quint64 tableFulls = 0; // entries refused since the machine started
    };

    NeighbourCensus();
    ~NeighbourCensus();
    NeighbourCensus(const NeighbourCensus &) = delete;
    NeighbourCensus &operator=(const NeighbourCensus &) = delete;

    Count read();

private:
    bool readTable(Count &count);
    bool readReclaimable(Count &count);

    std::unique_ptr<LinuxNetlink> m_netlink;
};

#endif // NEIGHBOURCENSUS_H
