#include "tests/vtranscodeserver/vscriptedtranscoder.h"

#include <chrono>

#include "qlib/qcom/comcall.h"
#include "qlib/qutilitylib/qcomutilities.h"

namespace {

constexpr auto k_patience = std::chrono::seconds(20);  // never reached when all is well

}  // namespace

CScriptedTranscoder::SScript& CScriptedTranscoder::Script() {
    static SScript s_script;
    return s_script;
}

void CScriptedTranscoder::Release(LONG result) {
    SScript& script = Script();
    const std::lock_guard lock(script.lock);
    script.released = true;
    script.releaseResult = result;
    script.changed.notify_all();
}

bool CScriptedTranscoder::WaitUntilHolding() {
    SScript& script = Script();
    std::unique_lock lock(script.lock);
    return script.changed.wait_for(lock, k_patience, [&] { return script.holding; });
}

HRESULT CScriptedTranscoder::SetItem(IVTranscodeItemData* item) {
    m_item = item;
    return S_OK;
}

HRESULT CScriptedTranscoder::GetItem(IVTranscodeItemData** item) {
    *item = nullptr;
    m_item.CopyTo(item);
    return S_OK;
}

HRESULT CScriptedTranscoder::CanTranscode(VARIANT_BOOL* result) {
    SScript& script = Script();
    const std::lock_guard lock(script.lock);
    *result = script.canTranscode ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

HRESULT CScriptedTranscoder::Transcode(const VARIANT& priority, LONG* result) {
    SScript& script = Script();
    SJobScript job;
    {
        const std::lock_guard lock(script.lock);
        script.priorities.push_back(priority.Vt() == VT_I2 ? priority.Get<int16_t>() : 99);
        if (!script.jobs.empty()) {
            job = std::move(script.jobs.front());
            script.jobs.pop_front();
        }
        ++script.running;
    }
    for (const LONG type : job.notifications) {
        Notify(type);
    }
    if (job.hook) {
        job.hook();
    }
    std::unique_lock lock(script.lock);
    *result = job.result;
    if (job.hold) {
        script.holding = true;
        script.released = false;
        script.changed.notify_all();
        script.changed.wait(lock, [&] { return script.released; });
        script.holding = false;
        script.paused = false;
        *result = script.releaseResult;
    }
    --script.running;
    return S_OK;
}

HRESULT CScriptedTranscoder::Pause(VARIANT_BOOL* paused) {
    SScript& script = Script();
    const std::lock_guard lock(script.lock);
    *paused = script.holding && !script.paused ? VARIANT_TRUE : VARIANT_FALSE;
    script.paused = script.holding;
    return S_OK;
}

HRESULT CScriptedTranscoder::Continue(VARIANT_BOOL* resumed) {
    SScript& script = Script();
    {
        const std::lock_guard lock(script.lock);
        *resumed = script.paused ? VARIANT_TRUE : VARIANT_FALSE;
        script.paused = false;
    }
    if (*resumed == VARIANT_TRUE) {
        Notify(EVTranscoderNotification_Continued);
    }
    return S_OK;
}

HRESULT CScriptedTranscoder::Abort(VARIANT_BOOL* aborted) {
    SScript& script = Script();
    const std::lock_guard lock(script.lock);
    ++script.abortCalls;
    *aborted = script.holding ? VARIANT_TRUE : VARIANT_FALSE;
    if (script.holding) {
        script.released = true;
        script.releaseResult = k_transcodeAborted;
    }
    script.changed.notify_all();
    return S_OK;
}

HRESULT CScriptedTranscoder::GetLastError(BSTR* message) {
    *message = L"scripted failure";
    return S_OK;
}

HRESULT CScriptedTranscoder::GetFileInfo(BSTR, IVItem**) {
    return E_NOTIMPL;
}

HRESULT CScriptedTranscoder::GetOutputFormatInfo(LONG, LONG infoKind, VARIANT* info) {
    // Every format is an MP4 one: extension (0) and MIME type (1).
    *info = infoKind == 0 ? VARIANT(L".mp4") : infoKind == 1 ? VARIANT(L"video/mp4") : VARIANT();
    return S_OK;
}

void CScriptedTranscoder::Notify(LONG type) {
    CComPtr<IVItem> event = CQCOMUtils::CreateObject<IVItem>(CLSID_VItem, k_itemDisplayName);
    CComPtr<IVProperties> properties = ComCall(event.Get(), &IVItem::GetProperties);
    ComCall(properties.Get(), &IVProperties::SetValueByName, L"Type",
            VARIANT(static_cast<int16_t>(type)), EVPropertyKind_Transcode);
    ComCall(properties.Get(), &IVProperties::SetValue, L"Percent", k_transcodeNamespace,
            VARIANT(int32_t{50}));
    DispatchEvent(event.Get());
}

CScriptedTranscoderClass::CScriptedTranscoderClass()
    : m_registration(
          RegisterComClass<CScriptedTranscoder>(CLSID_VTranscoder, k_transcoderDisplayName)) {
    CScriptedTranscoder::SScript& script = CScriptedTranscoder::Script();
    const std::lock_guard lock(script.lock);
    script.jobs.clear();
    script.priorities.clear();
    script.abortCalls = 0;
    script.holding = false;
    script.released = false;
    script.paused = false;
    script.canTranscode = true;
}
