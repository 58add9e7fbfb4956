#pragma once

#include "updatetrust.h"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

// The SHA-256 of a download, computed beside the transfer on a thread of its own, so that
// verifying an update costs its downloads next to no time. add() hands over a copy of each block
// (waiting while a few MiB are still to be hashed); finish() waits for the last one and gives the
// digest of everything added since the previous finish().
class HashWorker
{
public:
    HashWorker();
    ~HashWorker();
    HashWorker(const HashWorker &) = delete;
    HashWorker &operator=(const HashWorker &) = delete;

    void add(std::string_view bytes);
    std::string finish();

private:
    static constexpr size_t MaxPendingBytes = 8 * 1024 * 1024;

    void work();

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::string> m_pending;
    // Blocks already hashed, kept for reuse: fresh memory for every block costs more than the copy.
    std::vector<std::string> m_spare;
    size_t m_pendingBytes = 0;
    bool m_finishing = false;
    // Each side wakes the other only when it sleeps: a wake-up per block costs more than its hash.
    bool m_workerWaits = false;
    bool m_producerWaits = false;
    bool m_stopping = false;
    std::string m_digest;
    Sha256Stream m_stream; // the worker's alone
    std::thread m_thread;
};
