#include "qlib/qsys/namedevent.h"

#include <fcntl.h>
#include <semaphore.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "qlib/qsys/filelock.h"
#include "qlib/qsys/kernelobjectname.h"
#include "qlib/qsys/systemerror.h"

namespace qsys {

struct NamedEventState {
    NamedEventState() = default;
    NamedEventState(const NamedEventState&) = delete;
    NamedEventState& operator=(const NamedEventState&) = delete;
    ~NamedEventState() {
        if (semaphore != SEM_FAILED) {
            ::sem_close(semaphore);
        }
    }

    // Constant after construction.
    sem_t* semaphore = SEM_FAILED;
    std::string semaphoreName;
    std::string setLockPath;
    mode_t mode = 0600;

    std::mutex guard;
    std::condition_variable changed;     // `pending` or `interest` changed
    bool pending = false;                // guarded: a signal the helper took for this process
    int interest = 0;                    // guarded: watchers registered
    bool helperRunning = false;          // guarded
    int helperError = 0;                 // guarded: errno that stopped the helper
    std::vector<WaitWatcher*> watchers;  // guarded
};

namespace {

constexpr auto k_helperCheck = std::chrono::milliseconds(100);
constexpr int k_openAttempts = 16;

// Waits on the semaphore until the deadline: true when a count was taken, false on time-out.
bool WaitSemaphore(NamedEventState& state, const Deadline& deadline) {
    for (;;) {
        int result = 0;
        if (deadline.IsInfinite()) {
            result = ::sem_wait(state.semaphore);
        } else {
            const timespec until = deadline.AsMonotonicTimespec();
            result = ::sem_clockwait(state.semaphore, CLOCK_MONOTONIC, &until);
        }
        if (result == 0) {
            return true;
        }
        if (errno == ETIMEDOUT) {
            return false;
        }
        if (errno != EINTR) {
            ThrowLastError("wait for event " + state.semaphoreName);
        }
    }
}

bool TryTakeSemaphore(NamedEventState& state) {
    while (::sem_trywait(state.semaphore) != 0) {
        if (errno == EAGAIN) {
            return false;
        }
        if (errno != EINTR) {
            ThrowLastError("wait for event " + state.semaphoreName);
        }
    }
    return true;
}

// Signals the event unless it is signalled already; setters take turns under the lock file so
// that the count never exceeds 1.
void SignalSemaphore(NamedEventState& state) {
    const FileLock lock = FileLock::Acquire(state.setLockPath, state.mode);
    int value = 0;
    if (::sem_getvalue(state.semaphore, &value) != 0) {
        ThrowLastError("read event " + state.semaphoreName);
    }
    if (value <= 0 && ::sem_post(state.semaphore) != 0) {
        ThrowLastError("set event " + state.semaphoreName);
    }
}

// glibc keeps named semaphores as files "sem.<name>" in /dev/shm.
std::string SemaphoreFile(const std::string& name) {
    return "/dev/shm/sem." + name.substr(1);
}

sem_t* OpenSemaphore(const KernelObjectName& name, const std::string& semaphoreName,
                     EventState initial) {
    const unsigned value = initial == EventState::Signaled ? 1 : 0;
    for (int attempt = 0; attempt < k_openAttempts; ++attempt) {
        sem_t* semaphore = ::sem_open(semaphoreName.c_str(), O_CREAT | O_EXCL, name.Mode(), value);
        if (semaphore != SEM_FAILED) {
            // Undo the umask, so that every user may open a global event.
            ::chmod(SemaphoreFile(semaphoreName).c_str(), name.Mode());
            return semaphore;
        }
        if (errno != EEXIST) {
            ThrowLastError("create event " + semaphoreName);
        }
        semaphore = ::sem_open(semaphoreName.c_str(), 0);
        if (semaphore != SEM_FAILED) {
            return semaphore;
        }
        if (errno != ENOENT) {  // ENOENT: removed between the two calls; create it again
            ThrowLastError("open event " + semaphoreName);
        }
    }
    ThrowSystemError(EAGAIN, "open event " + semaphoreName);
}

// A user's event must be the user's own: another user could have made one of that name first.
void CheckOwner(const KernelObjectName& name, const std::string& semaphoreName) {
    struct stat status {};
    if (name.Namespace() == KernelNamespace::User &&
        (::stat(SemaphoreFile(semaphoreName).c_str(), &status) != 0 ||
         status.st_uid != ::geteuid())) {
        ThrowSystemError(EACCES, "event " + semaphoreName + " belongs to another user");
    }
}

// The helper thread of WaitForAny: takes a signal from the semaphore for this process's
// waiters while there are any, and sets the event again when they have left without it.
void RunHelper(const std::shared_ptr<NamedEventState>& state) {
    for (;;) {
        {
            std::unique_lock lock(state->guard);
            state->changed.wait(lock, [&] { return !state->pending || state->interest == 0; });
            if (state->interest == 0) {
                const bool giveBack = std::exchange(state->pending, false);
                state->helperRunning = false;
                lock.unlock();
                if (giveBack) {
                    SignalSemaphore(*state);
                }
                return;
            }
        }
        const bool taken = WaitSemaphore(*state, Deadline::After(k_helperCheck));
        std::unique_lock lock(state->guard);
        if (taken) {
            state->pending = true;
            for (WaitWatcher* watcher : state->watchers) {
                watcher->Notify();
            }
        }
    }
}

// Records why the helper stopped, so that the waiters fail instead of waiting in vain.
void HelperFailed(NamedEventState& state, int error) {
    const std::lock_guard lock(state.guard);
    state.helperError = error;
    state.helperRunning = false;
    for (WaitWatcher* watcher : state.watchers) {
        watcher->Notify();
    }
}

void HelperThread(std::shared_ptr<NamedEventState> state) noexcept {
    try {
        RunHelper(state);
    } catch (const std::system_error& error) {
        HelperFailed(*state, error.code().value());
    } catch (...) {
        HelperFailed(*state, ENOMEM);
    }
}

}  // namespace

NamedEvent::NamedEvent(std::wstring_view name, EventState initial)
    : m_state(std::make_shared<NamedEventState>()) {
    const KernelObjectName parsed = KernelObjectName::Parse(name);
    m_state->semaphoreName = parsed.SemaphoreName();
    m_state->setLockPath = parsed.LockFilePath(".event");
    m_state->mode = parsed.Mode();
    m_state->semaphore = OpenSemaphore(parsed, m_state->semaphoreName, initial);
    CheckOwner(parsed, m_state->semaphoreName);
}

NamedEvent::~NamedEvent() = default;

void NamedEvent::Set() {
    {
        const std::lock_guard lock(m_state->guard);
        if (m_state->pending) {
            return;  // a waiter of this process is about to take the signal already given
        }
    }
    SignalSemaphore(*m_state);
}

void NamedEvent::Reset() {
    {
        const std::lock_guard lock(m_state->guard);
        m_state->pending = false;
        m_state->changed.notify_all();
    }
    while (TryTakeSemaphore(*m_state)) {
    }
}

WaitStatus NamedEvent::Wait(std::chrono::milliseconds timeout) {
    const Deadline deadline = Deadline::After(timeout);
    return TryAcquire() || WaitSemaphore(*m_state, deadline) ? WaitStatus::Signaled
                                                             : WaitStatus::TimedOut;
}

void NamedEvent::Remove(std::wstring_view name) {
    const KernelObjectName parsed = KernelObjectName::Parse(name);
    if (::sem_unlink(parsed.SemaphoreName().c_str()) != 0 && errno != ENOENT) {
        ThrowLastError("remove event " + parsed.SemaphoreName());
    }
    const std::string lockPath = parsed.LockFilePath(".event");
    if (::unlink(lockPath.c_str()) != 0 && errno != ENOENT) {
        ThrowLastError("remove " + lockPath);
    }
}

bool NamedEvent::TryAcquire() {
    {
        const std::lock_guard lock(m_state->guard);
        if (m_state->helperError != 0) {
            ThrowSystemError(m_state->helperError, "wait for event " + m_state->semaphoreName);
        }
        if (m_state->pending) {
            m_state->pending = false;
            m_state->changed.notify_all();
            return true;
        }
    }
    return TryTakeSemaphore(*m_state);
}

void NamedEvent::AddWatcher(WaitWatcher& watcher) {
    const std::lock_guard lock(m_state->guard);
    if (!m_state->helperRunning) {
        std::thread(HelperThread, m_state).detach();
        m_state->helperRunning = true;
        m_state->helperError = 0;
    }
    m_state->watchers.push_back(&watcher);
    ++m_state->interest;
}

void NamedEvent::RemoveWatcher(WaitWatcher& watcher) {
    const std::lock_guard lock(m_state->guard);
    std::erase(m_state->watchers, &watcher);
    --m_state->interest;
    m_state->changed.notify_all();
}

}  // namespace qsys
