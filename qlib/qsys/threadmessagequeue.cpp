#include "qlib/qsys/threadmessagequeue.h"

#include <map>
#include <memory>

#include "qlib/qsys/currentthread.h"

namespace qsys {
namespace {

// The queues of the threads that have one, by thread id. Never destroyed: threads may post
// while the process exits.
class QueueDirectory {
public:
    static QueueDirectory& Instance() {
        static QueueDirectory* s_instance = new QueueDirectory;
        return *s_instance;
    }

    void Add(uint32_t threadId, std::shared_ptr<ThreadMessageQueue> queue) {
        const std::lock_guard lock(m_guard);
        m_queues[threadId] = std::move(queue);
    }
    void Remove(uint32_t threadId) {
        const std::lock_guard lock(m_guard);
        m_queues.erase(threadId);
    }
    std::shared_ptr<ThreadMessageQueue> Find(uint32_t threadId) {
        const std::lock_guard lock(m_guard);
        const auto found = m_queues.find(threadId);
        return found == m_queues.end() ? nullptr : found->second;
    }

private:
    std::mutex m_guard;
    std::map<uint32_t, std::shared_ptr<ThreadMessageQueue>> m_queues;  // guarded by m_guard
};

// Owns the calling thread's queue and takes it out of the directory when the thread ends.
class ThreadQueueOwner {
public:
    ThreadQueueOwner() : m_queue(std::make_shared<ThreadMessageQueue>()) {
        QueueDirectory::Instance().Add(GetCurrentThreadId(), m_queue);
    }
    ThreadQueueOwner(const ThreadQueueOwner&) = delete;
    ThreadQueueOwner& operator=(const ThreadQueueOwner&) = delete;
    ~ThreadQueueOwner() { QueueDirectory::Instance().Remove(GetCurrentThreadId()); }

    ThreadMessageQueue& Queue() { return *m_queue; }

private:
    std::shared_ptr<ThreadMessageQueue> m_queue;
};

}  // namespace

ThreadMessageQueue& ThreadMessageQueue::Current() {
    thread_local ThreadQueueOwner t_owner;
    return t_owner.Queue();
}

PostResult ThreadMessageQueue::Post(uint32_t threadId, const ThreadMessage& message) {
    const std::shared_ptr<ThreadMessageQueue> queue = QueueDirectory::Instance().Find(threadId);
    return queue == nullptr ? PostResult::NoQueue : queue->Add(message);
}

void ThreadMessageQueue::PostQuit(int exitCode) {
    // The own queue of a thread has room for its quit message even when full.
    ThreadMessageQueue& queue = Current();
    const std::lock_guard lock(queue.m_guard);
    queue.m_messages.push_back({WM_QUIT, static_cast<uint64_t>(static_cast<int64_t>(exitCode)), 0});
    queue.m_arrived.notify_one();
}

PostResult ThreadMessageQueue::Add(const ThreadMessage& message) {
    const std::lock_guard lock(m_guard);
    if (m_messages.size() >= k_maxMessages) {
        return PostResult::QueueFull;
    }
    m_messages.push_back(message);
    m_arrived.notify_one();
    return PostResult::Posted;
}

bool ThreadMessageQueue::Get(ThreadMessage& message) {
    std::unique_lock lock(m_guard);
    m_arrived.wait(lock, [&] { return !m_messages.empty(); });
    message = m_messages.front();
    m_messages.pop_front();
    return message.message != WM_QUIT;
}

std::optional<ThreadMessage> ThreadMessageQueue::Peek() {
    const std::lock_guard lock(m_guard);
    if (m_messages.empty()) {
        return std::nullopt;
    }
    ThreadMessage message = m_messages.front();
    m_messages.pop_front();
    return message;
}

}  // namespace qsys
