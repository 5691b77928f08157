#pragma once
// ThreadMessageQueue is the small message queue of a thread, as a thread's message loop uses
// it: other threads post a message (an id and two values) to the thread by its id
// (GetCurrentThreadId), and the thread takes them in order with Get, which blocks while the
// queue is empty and returns false for WM_QUIT, ending the loop.
//
// A thread has a queue from its first call to Current() until it ends; posting to a thread
// without one fails, as it does for the system's thread messages. A queue holds at most
// k_maxMessages messages.
//
// Post may be called from any thread; Get and Peek only by the queue's own thread.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>

namespace qsys {

constexpr uint32_t WM_QUIT = 0x0012;
constexpr uint32_t WM_ENDSESSION = 0x0016;
constexpr uint32_t WM_USER = 0x0400;

struct ThreadMessage {
    uint32_t message = 0;
    uint64_t wParam = 0;
    int64_t lParam = 0;
};

enum class PostResult { Posted, NoQueue, QueueFull };

class ThreadMessageQueue {
public:
    static constexpr size_t k_maxMessages = 10000;

    // The calling thread's queue, created on first use.
    static ThreadMessageQueue& Current();
    // Adds the message at the end of the queue of thread `threadId`.
    [[nodiscard]] static PostResult Post(uint32_t threadId, const ThreadMessage& message);
    // Posts WM_QUIT with the exit code as wParam to the calling thread.
    static void PostQuit(int exitCode);

    ThreadMessageQueue() = default;
    ThreadMessageQueue(const ThreadMessageQueue&) = delete;
    ThreadMessageQueue& operator=(const ThreadMessageQueue&) = delete;

    // Takes the next message, waiting for one; false when it is WM_QUIT.
    [[nodiscard]] bool Get(ThreadMessage& message);
    // Takes the next message if there is one.
    std::optional<ThreadMessage> Peek();

private:
    PostResult Add(const ThreadMessage& message);

    std::mutex m_guard;
    std::condition_variable m_arrived;
    std::deque<ThreadMessage> m_messages;  // guarded by m_guard
};

}  // namespace qsys
