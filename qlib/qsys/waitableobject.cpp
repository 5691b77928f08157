#include "qlib/qsys/waitableobject.h"

#include <cerrno>

#include "qlib/qsys/systemerror.h"

namespace qsys {
namespace {

// Keeps the watcher registered with the objects for the length of one wait.
class Registration {
public:
    Registration(std::span<WaitableObject* const> objects, WaitWatcher& watcher,
                 void (*add)(WaitableObject&, WaitWatcher&),
                 void (*remove)(WaitableObject&, WaitWatcher&))
        : m_objects(objects), m_watcher(watcher), m_remove(remove) {
        for (WaitableObject* object : m_objects) {
            add(*object, m_watcher);
            ++m_added;
        }
    }
    Registration(const Registration&) = delete;
    Registration& operator=(const Registration&) = delete;
    ~Registration() {
        for (size_t i = 0; i < m_added; ++i) {
            m_remove(*m_objects[i], m_watcher);
        }
    }

private:
    std::span<WaitableObject* const> m_objects;
    WaitWatcher& m_watcher;
    void (*m_remove)(WaitableObject&, WaitWatcher&);
    size_t m_added = 0;
};

}  // namespace

WaitStatus WaitableObject::Wait(std::chrono::milliseconds timeout) {
    WaitableObject* self = this;
    return WaitForAny(std::span<WaitableObject* const>(&self, 1), timeout).status;
}

WaitAnyResult WaitForAny(std::span<WaitableObject* const> objects,
                         std::chrono::milliseconds timeout) {
    if (objects.empty()) {
        ThrowSystemError(EINVAL, "a wait needs at least one object");
    }
    const Deadline deadline = Deadline::After(timeout);
    WaitWatcher watcher;
    const Registration registration(
        objects, watcher, [](WaitableObject& object, WaitWatcher& w) { object.AddWatcher(w); },
        [](WaitableObject& object, WaitWatcher& w) { object.RemoveWatcher(w); });
    for (;;) {
        for (size_t i = 0; i < objects.size(); ++i) {
            if (objects[i]->TryAcquire()) {
                return {WaitStatus::Signaled, i};
            }
        }
        if (!watcher.WaitUntil(deadline)) {
            return {WaitStatus::TimedOut, objects.size()};
        }
    }
}

}  // namespace qsys
