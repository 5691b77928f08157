#include "qlib/qutilitylib/qevent.h"

#include <system_error>

#include "qlib/qsys/event.h"
#include "qlib/qsys/namedevent.h"
#include "qlib/qutilitylib/qcatch.h"
#include "qlib/qutilitylib/qsystem.h"

namespace {

qsys::EventState InitialState(bool signalled) {
    return signalled ? qsys::EventState::Signaled : qsys::EventState::NonSignaled;
}

std::shared_ptr<qsys::EventObject> CreateNamed(const std::wstring& name, bool manualReset,
                                               bool initiallySignalled) {
    if (manualReset) {
        CQException error(QERR_INVALID_PARAMETER);
        error.AddValue(L"EventName", name);
        throw error;
    }
    std::wstring kernelName = name;
    CQSystem::MakeKernelObjectName(kernelName, false);
    try {
        return std::make_shared<qsys::NamedEvent>(kernelName, InitialState(initiallySignalled));
    } catch (const std::system_error& error) {
        CQException::RaiseSystemError(error, {{L"EventName", name}});
    }
}

// Sets or resets the event; a failure of the system layer raises the system error.
void Signal(qsys::EventObject& event, void (qsys::EventObject::*operation)()) {
    try {
        (event.*operation)();
    } catch (const std::system_error& error) {
        CQException::RaiseSystemError(error);
    }
}

}  // namespace

void CQEvent::Init(bool manualReset, bool initiallySignalled, const std::wstring& name) {
    CQCatch::Internal([&] {
        Close();
        std::shared_ptr<qsys::EventObject> event =
            name.empty() ? std::make_shared<qsys::Event>(
                               manualReset ? qsys::EventReset::Manual : qsys::EventReset::Auto,
                               InitialState(initiallySignalled))
                         : CreateNamed(name, manualReset, initiallySignalled);
        const std::lock_guard guard(m_guard);
        m_event = std::move(event);
    });
}

bool CQEvent::WaitForEvent() {
    return CQCatch::Internal([this] {
        const std::shared_ptr<qsys::EventObject> event = CurrentOrSignalled();
        try {
            return event->Wait() != qsys::WaitStatus::TimedOut;
        } catch (const std::system_error&) {
            return false;
        }
    });
}

void CQEvent::SetEvent() {
    CQCatch::Internal([this] { Signal(*RequireHandle(), &qsys::EventObject::Set); });
}

void CQEvent::ResetEvent() {
    CQCatch::Internal([this] { Signal(*RequireHandle(), &qsys::EventObject::Reset); });
}

void CQEvent::Close() {
    const std::lock_guard guard(m_guard);
    m_event.reset();
}

std::shared_ptr<qsys::EventObject> CQEvent::GetHandle() const {
    const std::lock_guard guard(m_guard);
    return m_event;
}

std::shared_ptr<qsys::EventObject> CQEvent::CurrentOrSignalled() {
    const std::lock_guard guard(m_guard);
    if (m_event == nullptr) {
        m_event = std::make_shared<qsys::Event>(qsys::EventReset::Auto, qsys::EventState::Signaled);
    }
    return m_event;
}

std::shared_ptr<qsys::EventObject> CQEvent::RequireHandle() const {
    const std::lock_guard guard(m_guard);
    if (m_event == nullptr) {
        throw CQException(QERR_NOT_INITIALIZED);
    }
    return m_event;
}
