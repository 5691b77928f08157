#pragma once
// CVHandoffQueue: a bounded first-in first-out queue that hands items (owning pointers to
// packets or frames: the data itself is never copied) from one pipeline stage's thread to the
// next. A producer waits while the queue is full, a consumer while it is empty. Bounded both
// by a number of items and by their bytes, so that a few huge packets cannot pile up; one item
// is always let in, however large.
//
// The producer ends its input with Close: the consumer takes what is left, then Pop says the
// end. Either side stops the queue with Cancel: both wake at once, what is queued is dropped
// and every later Push and Pop fails.
//
// Thread-safe: one mutex guards the items, their byte count and the closed and cancelled
// flags; producers and consumers wait on their own condition variables.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <utility>

template <typename T>
class CVHandoffQueue {
public:
    CVHandoffQueue(size_t maxItems, size_t maxBytes) : m_maxItems(maxItems), m_maxBytes(maxBytes) {}

    CVHandoffQueue(const CVHandoffQueue&) = delete;
    CVHandoffQueue& operator=(const CVHandoffQueue&) = delete;

    // Queues the item of `bytes` bytes, waiting for room. False (the item is dropped) when the
    // queue was closed or cancelled.
    bool Push(T item, size_t bytes) {
        std::unique_lock lock(m_mutex);
        m_hasRoom.wait(lock, [&] { return m_cancelled || m_closed || HasRoomLocked(); });
        if (m_cancelled || m_closed) {
            return false;
        }
        m_items.emplace_back(std::move(item), bytes);
        m_bytes += bytes;
        m_hasItem.notify_one();
        return true;
    }

    // Takes the oldest item into `item`, waiting for one. False when the queue was closed and
    // is empty, or cancelled.
    bool Pop(T& item) {
        std::unique_lock lock(m_mutex);
        m_hasItem.wait(lock, [&] { return m_cancelled || m_closed || !m_items.empty(); });
        if (m_cancelled || m_items.empty()) {
            return false;
        }
        item = std::move(m_items.front().first);
        m_bytes -= m_items.front().second;
        m_items.pop_front();
        m_hasRoom.notify_one();
        return true;
    }

    // No more items will come; the consumer still takes the queued ones.
    void Close() {
        std::lock_guard lock(m_mutex);
        m_closed = true;
        m_hasItem.notify_all();
        m_hasRoom.notify_all();
    }

    // Stops the queue for both sides and drops what it holds.
    void Cancel() {
        std::deque<std::pair<T, size_t>> dropped;
        {
            std::lock_guard lock(m_mutex);
            m_cancelled = true;
            dropped.swap(m_items);
            m_bytes = 0;
            m_hasItem.notify_all();
            m_hasRoom.notify_all();
        }
    }

private:
    bool HasRoomLocked() const {
        return m_items.empty() || (m_items.size() < m_maxItems && m_bytes < m_maxBytes);
    }

    const size_t m_maxItems;
    const size_t m_maxBytes;
    std::mutex m_mutex;
    std::condition_variable m_hasItem;  // a consumer waits for an item, the end or a cancel
    std::condition_variable m_hasRoom;  // a producer waits for room or a cancel
    std::deque<std::pair<T, size_t>> m_items;
    size_t m_bytes = 0;
    bool m_closed = false;
    bool m_cancelled = false;
};
