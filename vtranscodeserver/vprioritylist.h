#pragma once
// CVPriorityList<T>: the thread-safe priority queue of pending jobs. Each entry is a job id, a
// priority and an element (a counted reference to the job's item); entries are served highest
// priority first and, within one priority, oldest first. A count of available entries (the
// nested CSemaphore) lets a consumer block in Get until a job is there, while other threads add,
// inspect and remove jobs.
//
//     CVPriorityList<CComPtr<IVTranscodeItem>> queue;
//     queue.Put(jobId, priority, item);                // any thread
//     int32_t id = -1;
//     CComPtr<IVTranscodeItem> next = queue.Get(&id);  // the worker; blocks while nothing is there
//     if (next == nullptr) { ... no job after all (removed or emptied meanwhile) ... }
//
// The list never calls its elements: it only copies them (adding a reference) and drops them.
// A derived class adds persistence by overriding Changed, which runs after every change of the
// content, on the changing thread, with the list's lock held; the lock is re-entrant, so Changed
// may read the entries (GetEntries). Changed is not called for GetEntries, Peek, Length, a
// Remove that finds nothing, an Empty of an empty list, or the entries SetEntries inserts.
//
// The count and the entries: the count never falls below the number of entries. Put and
// SetEntries add one per entry, Get takes one, Remove takes none (so a later Get may wake and
// find the list empty, and returns an empty element at once), Empty and Clear set it to zero
// (a later Get blocks until something is put). TryGet and Peek never block.
//
// Decisions:
// - A Changed that throws never leaves the list half changed. The operation completes (Put's
//   entry stays in the list and is counted, Remove's entry stays removed, Empty's entries stay
//   gone, SetEntries inserts all of its entries) and then the exception propagates. Get alone
//   cannot both raise and hand out its element: it puts the entry back at the front, gives its
//   count back and raises, so a job is neither lost nor served twice.
// - New entries are built before the lock is taken, so a failed allocation changes nothing; the
//   references of unlinked entries are dropped after the lock is let go.
// - Clear empties the list and zeroes the count under the lock, so that an entry put by another
//   thread in between is not left without its count (which would strand it: Get would block
//   with a job present). The lock itself is kept: the list stays usable, and a thread that holds
//   or waits on the lock is not disturbed.
// - A lock that cannot be taken (its kernel object broke) raises instead of touching the
//   entries without it.
// - The count is a mutex and a condition variable; a count at its maximum (2147483647) stays
//   there, which is still far above any number of entries.
// - Destroying the list while a thread waits in Get is a fault of the owner: the owner stops its
//   consumer first. The destructor runs Clear under the base class's (empty) Changed; a derived
//   class that must record the final state clears in its own destructor.
//
// Failures leave every operation as CQException with a trace entry naming the method the way the
// compiler spells the template ("CVPriorityList<class CComPtr<struct IVTranscodeItem>>::Put").
//
// Any thread may call any operation. m_lock guards m_entries; the semaphore guards itself and is
// waited on without the lock.

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <limits>
#include <list>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "qlib/qcom/hresult.h"
#include "qlib/qutilitylib/qcatch.h"
#include "qlib/qutilitylib/qexception.h"
#include "qlib/qutilitylib/qlockholder.h"
#include "qlib/qutilitylib/qmutexlock.h"

// One queued job, copied by value (copying the element adds a reference).
template <class T>
struct SVPriorityEntry {
    int32_t jobId = 0;
    // Larger first; any value, negative ones included.
    int32_t priority = 0;
    T element{};
};

template <class T>
class CVPriorityList {
public:
    using Entry = SVPriorityEntry<T>;

    // The number of entries a consumer may take, blocking while it is zero.
    class CSemaphore {
    public:
        static constexpr int32_t k_maximumCount = std::numeric_limits<int32_t>::max();

        CSemaphore() = default;
        CSemaphore(const CSemaphore&) = delete;
        CSemaphore& operator=(const CSemaphore&) = delete;

        // Takes one count, waiting as long as there is none.
        void Wait() {
            CQCatch::Internal([&] {
                std::unique_lock lock(m_mutex);
                m_available.wait(lock, [&] { return m_count > 0; });
                --m_count;
            });
        }
        // Takes one count if there is one; never waits.
        bool TryTake() {
            return CQCatch::Internal([&] {
                std::lock_guard lock(m_mutex);
                if (m_count == 0) {
                    return false;
                }
                --m_count;
                return true;
            });
        }
        // Whether there is a count; the count stays as it is.
        bool TryWait() const {
            return CQCatch::Internal([&] {
                std::lock_guard lock(m_mutex);
                return m_count > 0;
            });
        }
        // Adds one count and wakes one waiter.
        void Signal() {
            CQCatch::Internal([&] {
                {
                    std::lock_guard lock(m_mutex);
                    if (m_count < k_maximumCount) {
                        ++m_count;
                    }
                }
                m_available.notify_one();
            });
        }
        // Drops every count.
        void Reset() {
            CQCatch::Internal([&] {
                std::lock_guard lock(m_mutex);
                m_count = 0;
            });
        }

    private:
        mutable std::mutex m_mutex;
        std::condition_variable m_available;
        int32_t m_count = 0;  // guarded by m_mutex
    };

    // Creates the lock's mutex now; should that fail, the first operation tries again (and
    // raises if it cannot).
    CVPriorityList() {
        CQCatch::LogAndSwallow([&] { m_lock.Init(std::wstring()); });
    }
    CVPriorityList(const CVPriorityList&) = delete;
    CVPriorityList& operator=(const CVPriorityList&) = delete;
    virtual ~CVPriorityList() {
        CQCatch::LogAndSwallow([&] { Clear(); });
    }

    // Inserts the job behind every entry of the same or a higher priority.
    void Put(int32_t jobId, int32_t priority, const T& element) {
        CQCatch::Internal([&] {
            std::list<Entry> added;
            added.push_back(Entry{jobId, priority, element});
            CQLockHolder holder(m_lock);
            RequireHeld(holder);
            InsertFront(added);
            const std::exception_ptr failure = CallChanged();
            m_semaphore.Signal();
            RethrowIf(failure);
        });
    }

    // Takes the front entry: its element (the reference passes to the caller) and, through the
    // non-null out-pointers, its job id and priority. Waits while the count is zero; an empty
    // element when the list turns out to be empty (the out-pointers are then not written).
    T Get(int32_t* jobId = nullptr, int32_t* priority = nullptr) {
        return CQCatch::Internal([&] {
            m_semaphore.Wait();
            return TakeFront(jobId, priority);
        });
    }

    // As Get, but an empty element at once when the count is zero.
    T TryGet(int32_t* jobId = nullptr, int32_t* priority = nullptr) {
        return CQCatch::Internal([&] {
            if (!m_semaphore.TryTake()) {
                return T{};
            }
            return TakeFront(jobId, priority);
        });
    }

    // The front entry's element (a new reference), job id and priority, leaving the list and
    // the count as they are; an empty element when there is none. Never waits.
    T Peek(int32_t* jobId = nullptr, int32_t* priority = nullptr) {
        return CQCatch::Internal([&] {
            if (!m_semaphore.TryWait()) {
                return T{};
            }
            CQLockHolder holder(m_lock);
            RequireHeld(holder);
            if (m_entries.empty()) {
                return T{};
            }
            const Entry& front = m_entries.front();
            WriteOut(front, jobId, priority);
            return front.element;
        });
    }

    // Unlinks the entry nearest the front that has this job id; false when none has. The count
    // stays as it is.
    bool Remove(int32_t jobId) {
        return CQCatch::Internal([&] {
            std::list<Entry> removed;
            CQLockHolder holder(m_lock);
            RequireHeld(holder);
            const auto found =
                std::find_if(m_entries.begin(), m_entries.end(),
                             [&](const Entry& entry) { return entry.jobId == jobId; });
            if (found == m_entries.end()) {
                return false;
            }
            removed.splice(removed.end(), m_entries, found);
            RethrowIf(CallChanged());
            return true;
        });
    }

    int32_t Length() {
        return CQCatch::Internal([&] {
            CQLockHolder holder(m_lock);
            RequireHeld(holder);
            return static_cast<int32_t>(m_entries.size());
        });
    }

    // Unlinks every entry and zeroes the count; nothing (not even Changed) on an empty list.
    void Empty() {
        CQCatch::Internal([&] {
            std::list<Entry> removed;
            CQLockHolder holder(m_lock);
            RequireHeld(holder);
            if (!m_entries.empty()) {
                RethrowIf(UnlinkAll(removed));
            }
        });
    }

    // Empty, and the count zeroed even when the list was empty already. The list stays usable.
    void Clear() {
        CQCatch::Internal([&] {
            CQLockHolder holder(m_lock);
            RequireHeld(holder);
            std::exception_ptr failure;
            try {
                Empty();
            } catch (...) {
                failure = std::current_exception();
            }
            m_semaphore.Reset();
            RethrowIf(failure);
        });
    }

    // Appends a copy of every entry, front to back, to `entries` (which keeps what it held).
    void GetEntries(std::vector<Entry>& entries) {
        CQCatch::Internal([&] {
            CQLockHolder holder(m_lock);
            RequireHeld(holder);
            entries.reserve(entries.size() + m_entries.size());
            entries.insert(entries.end(), m_entries.begin(), m_entries.end());
        });
    }

    // Inserts a copy of every entry, in vector order, each behind the entries of the same or a
    // higher priority, and counts each. Without append a non-empty list is emptied first (one
    // Changed call, the count zeroed). Answers the number inserted.
    int32_t SetEntries(const std::vector<Entry>& entries, bool append) {
        return CQCatch::Internal([&] {
            std::list<Entry> added(entries.begin(), entries.end());
            std::list<Entry> removed;
            CQLockHolder holder(m_lock);
            RequireHeld(holder);
            std::exception_ptr failure;
            if (!append && !m_entries.empty()) {
                failure = UnlinkAll(removed);
            }
            int32_t inserted = 0;
            while (!added.empty()) {
                InsertFront(added);
                m_semaphore.Signal();
                ++inserted;
            }
            RethrowIf(failure);
            return inserted;
        });
    }

protected:
    // Runs after each change of the content, with the lock held.
    virtual void Changed() {}

private:
    static void RequireHeld(const CQLockHolder& holder) {
        if (!holder.IsHeld()) {
            throw CQException(L"Failed to lock the priority list.", E_UNEXPECTED);
        }
    }

    static void RethrowIf(const std::exception_ptr& failure) {
        if (failure) {
            std::rethrow_exception(failure);
        }
    }

    static void WriteOut(const Entry& entry, int32_t* jobId, int32_t* priority) {
        if (jobId != nullptr) {
            *jobId = entry.jobId;
        }
        if (priority != nullptr) {
            *priority = entry.priority;
        }
    }

    // Changed, reporting its failure instead of raising it, so that the caller can finish its
    // change first. With the lock held.
    std::exception_ptr CallChanged() {
        try {
            Changed();
            return nullptr;
        } catch (...) {
            return std::current_exception();
        }
    }

    // Moves the front node of `from` into the list before the first entry of a lower priority
    // (no allocation, cannot fail). With the lock held.
    void InsertFront(std::list<Entry>& from) {
        const int32_t priority = from.front().priority;
        const auto before =
            std::find_if(m_entries.begin(), m_entries.end(),
                         [&](const Entry& entry) { return entry.priority < priority; });
        m_entries.splice(before, from, from.begin());
    }

    // Moves every entry into `removed`, zeroes the count and calls Changed, answering its
    // failure. With the lock held.
    std::exception_ptr UnlinkAll(std::list<Entry>& removed) {
        m_semaphore.Reset();
        removed.splice(removed.end(), m_entries);
        return CallChanged();
    }

    // The second half of Get, after a count was taken (given back if the lock fails).
    T TakeFront(int32_t* jobId, int32_t* priority) {
        CQLockHolder holder(m_lock);
        if (!holder.IsHeld()) {
            m_semaphore.Signal();
            RequireHeld(holder);
        }
        if (m_entries.empty()) {
            return T{};
        }
        std::list<Entry> taken;
        taken.splice(taken.end(), m_entries, m_entries.begin());
        if (const std::exception_ptr failure = CallChanged()) {
            m_entries.splice(m_entries.begin(), taken);
            m_semaphore.Signal();
            std::rethrow_exception(failure);
        }
        WriteOut(taken.front(), jobId, priority);
        return std::move(taken.front().element);
    }

    std::list<Entry> m_entries;  // front first; guarded by m_lock
    CQMutexLock m_lock;
    CSemaphore m_semaphore;
};
