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
    m_changed.wait(lock, [this] { return m_pendingBytes < MaxPendingBytes; });
    m_pending.emplace_back(bytes);
    m_pendingBytes += bytes.size();
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
        m_changed.wait(lock, [this] { return m_stopping || m_finishing || !m_pending.empty(); });
        if (!m_pending.empty()) {
            const std::string block = std::move(m_pending.front());
            m_pending.pop_front();
            lock.unlock();
            m_stream.add(block);
            lock.lock();
            m_pendingBytes -= block.size();
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
