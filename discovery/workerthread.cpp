#include "workerthread.h"

bool WorkerThread::launch()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_running = true;
    }
    start(QThread::InheritPriority);
    if (isRunning() || isFinished()) {
        return true;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_running = false;
    return false;
}

void WorkerThread::waitUntilEnded()
{
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_ended.wait(lock, [this] { return !m_running; });
    }
    wait();
}

void WorkerThread::run()
{
    work();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_running = false;
    m_ended.notify_all();
}
