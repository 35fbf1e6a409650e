#include "neighbourbatch.h"

#include "discovery/arpthread.h"
#include "discovery/sweepstate.h"

NeighbourBatch::NeighbourBatch(QVector<quint32> addresses, int interfaceIndex)
    : m_addresses(std::move(addresses)), m_state(new SweepState(m_addresses.size(), interfaceIndex))
{
    // Both come from a worker; queued, they arrive after every answer it reported before.
    connect(m_state.data(), &SweepState::interfaceLost, this, [this] { m_linkLost = true; });
    connect(m_state.data(), &SweepState::ended, this,
            [this] { emit ended(!m_linkLost && m_state->failures() == 0); });
}

NeighbourBatch::~NeighbourBatch()
{
    m_state->stop();
    for (const auto &worker : m_workers) {
        worker->waitUntilEnded();
    }
}

bool NeighbourBatch::start()
{
    DiscoveryReports &reports = *this;
    for (int from = 0; from < m_addresses.size(); from += kSliceSize) {
        auto worker = std::make_unique<ARPThread>(reports, m_addresses.mid(from, kSliceSize),
                                                  m_state, false, kLongestLookMs);
        if (!worker->launch()) {
            for (int n = worker->addressCount(); n > 0; --n) {
                m_state->failAddress();
            }
            continue;
        }
        m_workers.push_back(std::move(worker));
    }
    return !m_workers.empty();
}

void NeighbourBatch::hostAnswered(quint32 address, const QString &macString)
{
    // From a worker: its receivers live in the batch's thread, so Qt queues it there, behind
    // nothing the worker reports later (its end comes through the sweep state, queued too).
    emit answered(address, macString);
}
