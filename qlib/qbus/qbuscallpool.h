#pragma once
// CQBusCallPool: the threads that serve bus calls. A call that blocks (a method that waits for
// jobs to end) must never hold up the others, so the pool starts another thread whenever work
// arrives and no thread is idle, up to k_maxThreads; threads beyond the first k_keptThreads end
// after k_idleTime without work. Work beyond what k_maxThreads can take waits in order.
//
// Post and PostNow may be called from any thread, also from work on the pool. The destructor stops
// taking work, lets running work finish, drops what has not started, and joins every thread; it
// must not run on a pool thread.
//
// m_lock guards m_work, m_threads, m_idle and m_stopping.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <list>
#include <mutex>
#include <thread>

class CQBusCallPool {
public:
    static constexpr size_t k_keptThreads = 2;
    static constexpr size_t k_maxThreads = 64;
    static constexpr std::chrono::seconds k_idleTime{10};

    CQBusCallPool() = default;
    CQBusCallPool(const CQBusCallPool&) = delete;
    CQBusCallPool& operator=(const CQBusCallPool&) = delete;
    ~CQBusCallPool();

    // Runs work on a pool thread. Exceptions from work are its own business: one that escapes
    // is dropped.
    void Post(std::function<void()> work);
    // Runs work before any waiting work, on a thread that is idle or may be started now; false
    // (work dropped) when every thread is busy and no more may start, or the pool is stopping.
    // When it raises (no thread could start), the work is dropped as well.
    bool PostNow(std::function<void()> work);

private:
    // Under m_lock: starts a thread when more work waits than threads are idle (raising, with
    // nothing changed, when it cannot), else answers true: notify m_wake once m_lock is let go.
    bool TakeWaiting();

    void Run(std::list<std::thread>::iterator self);

    std::mutex m_lock;
    std::condition_variable m_wake;
    std::condition_variable m_threadEnded;
    std::deque<std::function<void()>> m_work;
    std::list<std::thread> m_threads;  // running threads; a thread that ends moves to m_ended
    std::list<std::thread> m_ended;    // joined by the next Post or the destructor
    size_t m_idle = 0;
    bool m_stopping = false;
};
