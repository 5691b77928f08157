#pragma once
// A probe object for the bus tests, with a dual interface whose methods cover every kind of
// parameter, a method that blocks until released, failing methods and a connection point that
// fires events on request; items come from the items library.
//
// The probe guards its state with its own mutex; any thread may call it.

#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "qlib/qcom/comconnectionpoint.h"
#include "qlib/qcom/comconnectionpointcontainer.h"
#include "qlib/qcom/comdispatchimpl.h"
#include "qlib/qcom/comobjectbase.h"
#include "vtranscoder/vitemsinterfaces.h"
#include "vtranscoder/vtranscoderinterfaces.h"

namespace qbus::test {

// Registers the items library's classes (the bus reads items into fresh objects of them).
class TestItemClasses {
public:
    TestItemClasses();
};

// A new item of the items library.
CComPtr<IVItem> MakeItem(const std::wstring& className, const std::wstring& guid);

inline constexpr IID DIID_ProbeEvents = MakeGuid("6A0B7C1D-2E3F-4A5B-8C6D-7E8F9A0B1C2D");

class IBusProbe : public IDispatch {
public:
    static constexpr IID k_iid = MakeGuid("6A0B7C1D-2E3F-4A5B-8C6D-7E8F9A0B1C01");
    static const InterfaceInfo& TypeInfo();

    virtual HRESULT Echo(const VARIANT& value, VARIANT* result) = 0;
    virtual HRESULT Describe(BSTR text, LONG number, ULONG count, VARIANT_BOOL flag,
                             BSTR* description) = 0;
    virtual HRESULT Split(LONG value, LONG* half, LONG* rest) = 0;
    virtual HRESULT CopyItem(IVItem* item, IVItem** copy) = 0;
    virtual HRESULT Wait() = 0;
    virtual HRESULT Fail(LONG code) = 0;
    virtual HRESULT FailWithException() = 0;
    virtual HRESULT Fire(BSTR text) = 0;
    virtual HRESULT SourceOf(IVTranscodeItem* item, BSTR* source) = 0;
};

class CBusProbe final
    : public CComObjectBase<CComDispatchImpl<IBusProbe>, CComConnectionPointContainer> {
public:
    CBusProbe();

    HRESULT Echo(const VARIANT& value, VARIANT* result) override;
    HRESULT Describe(BSTR text, LONG number, ULONG count, VARIANT_BOOL flag,
                     BSTR* description) override;
    HRESULT Split(LONG value, LONG* half, LONG* rest) override;
    HRESULT CopyItem(IVItem* item, IVItem** copy) override;
    HRESULT Wait() override;
    HRESULT Fail(LONG code) override;
    HRESULT FailWithException() override;
    HRESULT Fire(BSTR text) override;
    HRESULT SourceOf(IVTranscodeItem* item, BSTR* source) override;

    // Lets every Wait that is blocked, and every later one, return.
    void Unblock() {
        std::lock_guard lock(m_lock);
        m_released = true;
        m_wake.notify_all();
    }
    size_t Sinks() { return m_events.Sinks().size(); }
    // How many calls of Wait are blocked now.
    size_t Waiting() {
        std::lock_guard lock(m_lock);
        return m_waiting;
    }

private:
    CComConnectionPoint<IDispatch>& m_events;
    std::mutex m_lock;
    std::condition_variable m_wake;
    bool m_released = false;  // guarded by m_lock
    size_t m_waiting = 0;     // guarded by m_lock
};

}  // namespace qbus::test
