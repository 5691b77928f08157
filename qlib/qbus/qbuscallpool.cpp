#include "qlib/qbus/qbuscallpool.h"

#include "qlib/qsys/currentthread.h"
#include "qlib/qutilitylib/qcatch.h"

CQBusCallPool::~CQBusCallPool() {
    std::list<std::thread> threads;
    {
        std::lock_guard lock(m_lock);
        m_stopping = true;
        m_work.clear();
    }
    m_wake.notify_all();
    {
        std::unique_lock lock(m_lock);
        m_threadEnded.wait(lock, [&] { return m_threads.empty(); });
        threads.splice(threads.end(), m_ended);
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
}

void CQBusCallPool::Post(std::function<void()> work) {
    std::list<std::thread> ended;
    bool wakeIdle = false;
    {
        std::lock_guard lock(m_lock);
        if (m_stopping) {
            return;
        }
        m_work.push_back(std::move(work));
        ended.splice(ended.end(), m_ended);
        wakeIdle = TakeWaiting();
    }
    // Woken after the lock is let go: a thread woken under it would at once wait for it, and
    // its waker would have to wake it a second time.
    if (wakeIdle) {
        m_wake.notify_one();
    }
    for (std::thread& thread : ended) {
        thread.join();
    }
}

bool CQBusCallPool::PostNow(std::function<void()> work) {
    bool wakeIdle = false;
    {
        std::lock_guard lock(m_lock);
        if (m_stopping || (m_idle == 0 && m_threads.size() >= k_maxThreads)) {
            return false;
        }
        m_work.push_front(std::move(work));
        try {
            wakeIdle = TakeWaiting();
        } catch (...) {
            m_work.pop_front();  // not taken: the caller goes on as if refused
            throw;
        }
    }
    if (wakeIdle) {
        m_wake.notify_one();
    }
    return true;
}

bool CQBusCallPool::TakeWaiting() {
    if (m_work.size() > m_idle && m_threads.size() < k_maxThreads) {
        m_threads.emplace_back();
        const auto self = std::prev(m_threads.end());
        try {
            *self = std::thread([this, self] { Run(self); });
        } catch (...) {
            m_threads.erase(self);
            throw;
        }
        return false;
    }
    return true;
}

void CQBusCallPool::Run(std::list<std::thread>::iterator self) {
    qsys::SetCurrentThreadName(L"qbus-call");
    std::unique_lock lock(m_lock);
    for (;;) {
        ++m_idle;
        const bool woken =
            m_wake.wait_for(lock, k_idleTime, [&] { return m_stopping || !m_work.empty(); });
        --m_idle;
        if (m_stopping || (!woken && m_threads.size() > k_keptThreads)) {
            break;
        }
        if (m_work.empty()) {
            continue;
        }
        std::function<void()> work = std::move(m_work.front());
        m_work.pop_front();
        lock.unlock();
        CQCatch::LogAndSwallow(work);
        work = nullptr;
        lock.lock();
    }
    // The thread object moves to m_ended; it is joined by whoever collects it next.
    m_ended.splice(m_ended.end(), m_threads, self);
    m_threadEnded.notify_all();
}
