#include "components/veventlib/vinnereventlistenerobj.h"

#include <algorithm>
#include <utility>

#include "qlib/qutilitylib/qcatch.h"
#include "vevent/veventlistener.h"

HRESULT CVInnerEventListenerObj::Attach(CVEventListener* listener) {
    std::unique_lock lock(m_lock);
    CVEventListener* const previous = std::exchange(m_listener, listener);
    if (previous != nullptr && previous != listener) {
        m_idle.wait(lock, [&] { return !OthersDeliveringLocked(previous); });
    }
    return S_OK;
}

HRESULT CVInnerEventListenerObj::HandleEvent(IUnknown* event) {
    const std::thread::id self = std::this_thread::get_id();
    CVEventListener* listener = nullptr;
    {
        std::lock_guard lock(m_lock);
        listener = m_listener;
        if (listener == nullptr) {
            return S_OK;
        }
        m_delivering.push_back({self, listener});
    }
    CQCatch::LogAndSwallow([&] { listener->OnEvent(event); });
    {
        std::lock_guard lock(m_lock);
        m_delivering.erase(
            std::find_if(m_delivering.begin(), m_delivering.end(), [&](const SDelivery& delivery) {
                return delivery.thread == self && delivery.listener == listener;
            }));
    }
    m_idle.notify_all();
    return S_OK;
}

bool CVInnerEventListenerObj::OthersDeliveringLocked(const CVEventListener* listener) const {
    const std::thread::id self = std::this_thread::get_id();
    return std::any_of(m_delivering.begin(), m_delivering.end(), [&](const SDelivery& delivery) {
        return delivery.thread != self && delivery.listener == listener;
    });
}
