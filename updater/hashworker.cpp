#include "hashworker.h"

HashWorker::HashWorker()
    : m_thread([this] { work(); })
{
}

HashWorker::~HashWorker()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

void HashWorker::add(std::string_view bytes)
{
    std::unique_lock lock(m_mutex);
    m_producerWaits = true;
    m_changed.wait(lock, [this] { return m_pendingBytes < MaxPendingBytes; });
    m_producerWaits = false;
    std::string block;
    if (!m_spare.empty()) {
        block = std::move(m_spare.back());
        m_spare.pop_back();
    }
    block.assign(bytes);
    m_pending.push_back(std::move(block));
    m_pendingBytes += bytes.size();
    if (m_workerWaits)
        m_changed.notify_all();
}

std::string HashWorker::finish()
{
    std::unique_lock lock(m_mutex);
    m_finishing = true;
    m_changed.notify_all();
    m_changed.wait(lock, [this] { return !m_finishing; });
    return m_digest;
}

void HashWorker::work()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_workerWaits = true;
        m_changed.wait(lock, [this] { return m_stopping || m_finishing || !m_pending.empty(); });
        m_workerWaits = false;
        if (!m_pending.empty()) {
            std::string block = std::move(m_pending.front());
            m_pending.pop_front();
            lock.unlock();
            m_stream.add(block);
            lock.lock();
            m_pendingBytes -= block.size();
            m_spare.push_back(std::move(block));
            if (m_producerWaits)
                m_changed.notify_all();
        } else if (m_finishing) {
            m_digest = m_stream.finish();
            m_finishing = false;
            m_changed.notify_all();
        } else {
            return;
        }
    }
}
