#include "qlib/qsys/kernelmutex.h"

#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "qlib/qsys/filelock.h"
#include "qlib/qsys/kernelobjectname.h"
#include "qlib/qsys/systemerror.h"
#include "qlib/qsys/uniquefd.h"

namespace qsys {

struct KernelMutexState {
    // Constant after construction.
    std::string lockPath;  // empty for a mutex of this process only
    pid_t process = ::getpid();
    UniqueFd lockFile;

    std::mutex guard;
    std::condition_variable released;
    std::thread::id owner;   // guarded by `guard`; set from the start of taking the lock file
    uint32_t count = 0;      // guarded by `guard`: holds of the owner
    bool abandoned = false;  // guarded by `guard`: the last owner thread ended holding it
};

namespace {

constexpr char k_released = '0';
constexpr char k_held = '1';
constexpr auto k_firstPoll = std::chrono::milliseconds(1);
constexpr auto k_longestPoll = std::chrono::milliseconds(10);

// The named mutexes this process has open, by lock file, so that all handles of a name share
// one state. Never destroyed: threads may end (and release mutexes) during static destruction.
class OpenMutexes {
public:
    static OpenMutexes& Instance() {
        static OpenMutexes* s_instance = new OpenMutexes;
        return *s_instance;
    }

    std::shared_ptr<KernelMutexState> Open(const KernelObjectName& name) {
        const std::string path = name.LockFilePath(".mutex");
        const std::lock_guard lock(m_guard);
        const auto found = m_byPath.find(path);
        std::shared_ptr<KernelMutexState> state =
            found == m_byPath.end() ? nullptr : found->second.lock();
        // A state from before fork() is the parent's: its lock file description is shared.
        if (state != nullptr && state->process == ::getpid()) {
            return state;
        }
        state = std::make_shared<KernelMutexState>();
        state->lockPath = path;
        state->lockFile = OpenLockFile(path, name.Mode());
        std::erase_if(m_byPath, [](const auto& entry) { return entry.second.expired(); });
        m_byPath[path] = state;
        return state;
    }

private:
    std::mutex m_guard;
    std::map<std::string, std::weak_ptr<KernelMutexState>> m_byPath;  // guarded by m_guard
};

void ReleaseLockFile(KernelMutexState& state, char marker) {
    if (marker == k_released) {
        // A failure here only makes the next owner see the mutex as abandoned.
        [[maybe_unused]] const ssize_t ignored = ::pwrite(state.lockFile.Get(), &marker, 1, 0);
    }
    ::flock(state.lockFile.Get(), LOCK_UN);
}

// The mutexes the calling thread owns. When the thread ends holding some, they are released
// and marked abandoned, as the system does for a thread that ends owning a mutex.
class ThreadOwnership {
public:
    ThreadOwnership() = default;
    ThreadOwnership(const ThreadOwnership&) = delete;
    ThreadOwnership& operator=(const ThreadOwnership&) = delete;
    ~ThreadOwnership() {
        for (const std::shared_ptr<KernelMutexState>& state : m_owned) {
            const std::lock_guard lock(state->guard);
            if (state->lockFile.IsValid()) {
                ReleaseLockFile(*state, k_held);
            }
            state->owner = {};
            state->count = 0;
            state->abandoned = true;
            state->released.notify_one();
        }
    }

    void Add(std::shared_ptr<KernelMutexState> state) { m_owned.push_back(std::move(state)); }
    void Remove(const KernelMutexState& state) {
        std::erase_if(m_owned, [&](const auto& owned) { return owned.get() == &state; });
    }

private:
    std::vector<std::shared_ptr<KernelMutexState>> m_owned;
};

thread_local ThreadOwnership t_ownership;

// Takes the exclusive flock within the deadline: nullopt when it passed first, else whether the
// previous owner left the mutex abandoned.
std::optional<bool> TakeLockFile(KernelMutexState& state, const Deadline& deadline) {
    const int fd = state.lockFile.Get();
    auto pause = k_firstPoll;
    for (;;) {
        const int operation = deadline.IsInfinite() ? LOCK_EX : LOCK_EX | LOCK_NB;
        if (::flock(fd, operation) == 0) {
            break;
        }
        if (errno == EWOULDBLOCK) {
            if (deadline.HasPassed()) {
                return std::nullopt;
            }
            std::this_thread::sleep_until(deadline.NoLaterThan(pause));
            pause = std::min(pause * 2, k_longestPoll);
        } else if (errno != EINTR) {
            ThrowLastError("lock " + state.lockPath);
        }
    }
    char marker = k_released;
    const ssize_t read = ::pread(fd, &marker, 1, 0);
    if (read < 0 || ::pwrite(fd, &k_held, 1, 0) != 1) {
        const int error = errno;
        ReleaseLockFile(state, k_released);
        ThrowSystemError(error, "mark " + state.lockPath);
    }
    return read == 1 && marker == k_held;
}

}  // namespace

KernelMutex::KernelMutex() : m_state(std::make_shared<KernelMutexState>()) {}

KernelMutex::KernelMutex(std::wstring_view name)
    : m_state(name.empty() ? std::make_shared<KernelMutexState>()
                           : OpenMutexes::Instance().Open(KernelObjectName::Parse(name))) {}

KernelMutex::~KernelMutex() = default;
KernelMutex::KernelMutex(KernelMutex&&) noexcept = default;
KernelMutex& KernelMutex::operator=(KernelMutex&&) noexcept = default;

WaitStatus KernelMutex::Lock(std::chrono::milliseconds timeout) {
    const Deadline deadline = Deadline::After(timeout);
    KernelMutexState& state = *m_state;
    const std::thread::id self = std::this_thread::get_id();
    std::unique_lock lock(state.guard);
    if (state.owner == self) {
        if (state.count == UINT32_MAX) {
            ThrowSystemError(EOVERFLOW, "mutex held too many times");
        }
        ++state.count;
        return WaitStatus::Signaled;
    }
    const auto isFree = [&] { return state.owner == std::thread::id{}; };
    if (deadline.IsInfinite()) {
        state.released.wait(lock, isFree);
    } else if (!state.released.wait_until(lock, deadline.When(), isFree)) {
        return WaitStatus::TimedOut;
    }
    // Claim the mutex within this process before waiting for other processes.
    state.owner = self;
    bool abandoned = std::exchange(state.abandoned, false);
    const auto giveUpClaim = [&] {
        state.owner = {};
        state.abandoned = abandoned;
        state.released.notify_one();
    };
    if (state.lockFile.IsValid()) {
        std::optional<bool> previousAbandoned;
        lock.unlock();
        try {
            previousAbandoned = TakeLockFile(state, deadline);
        } catch (...) {
            lock.lock();
            giveUpClaim();
            throw;
        }
        lock.lock();
        if (!previousAbandoned) {
            giveUpClaim();
            return WaitStatus::TimedOut;
        }
        abandoned = abandoned || *previousAbandoned;
    }
    state.count = 1;
    t_ownership.Add(m_state);
    return abandoned ? WaitStatus::Abandoned : WaitStatus::Signaled;
}

void KernelMutex::Unlock() {
    KernelMutexState& state = *m_state;
    const std::lock_guard lock(state.guard);
    if (state.owner != std::this_thread::get_id() || state.count == 0) {
        ThrowSystemError(EPERM, "release of a mutex that the calling thread does not own");
    }
    if (--state.count > 0) {
        return;
    }
    if (state.lockFile.IsValid()) {
        ReleaseLockFile(state, k_released);
    }
    state.owner = {};
    t_ownership.Remove(state);
    state.released.notify_one();
}

bool KernelMutex::IsOwnedByCurrentThread() const {
    const std::lock_guard lock(m_state->guard);
    return m_state->owner == std::this_thread::get_id() && m_state->count > 0;
}

}  // namespace qsys
