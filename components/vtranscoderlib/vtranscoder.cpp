#include "components/vtranscoderlib/vtranscoder.h"

#include <algorithm>
#include <limits>

#include "components/vtranscoderlib/vjobcheck.h"
#include "components/vtranscoderlib/vmediaprobe.h"
#include "components/vtranscoderlib/voutputformats.h"
#include "qlib/qutilitylib/qcatch.h"

namespace {

void SetTranscodeValue(IVProperties* properties, const wchar_t* name, const VARIANT& value) {
    ThrowIfFailed(properties->SetValue(name, k_transcodeNamespace, value));
}

void SetMetadataValue(IVProperties* properties, const wchar_t* name, const VARIANT& value) {
    ThrowIfFailed(properties->SetValue(name, k_metadataNamespace, value));
}

CComPtr<IVProperties> PropertiesOf(IVItem* item) {
    CComPtr<IVProperties> properties;
    ThrowIfFailed(item->GetProperties(&properties));
    return properties;
}

LONG ClampToLong(int64_t value) {
    return static_cast<LONG>(std::clamp<int64_t>(value, std::numeric_limits<LONG>::min(),
                                                 std::numeric_limits<LONG>::max()));
}

// True for a priority argument that asks for a background job (-1).
bool IsBackground(const VARIANT& priority) {
    VARIANT value;
    return SUCCEEDED(VariantChangeType(&value, &priority, 0, VT_I2)) && value.Get<int16_t>() == -1;
}

}  // namespace

CVTranscoder::CVTranscoder()
    : m_events(AddConnectionPoint<CComConnectionPoint<IDispatch>>(DIID_IVEventListener)) {}

template <class Body>
HRESULT CVTranscoder::Catch(Body&& body, const std::source_location& location) {
    return CQCatch::Interface(IVTranscoder::k_iid, CLSID_VTranscoder, std::forward<Body>(body),
                              location);
}

HRESULT CVTranscoder::SetItem(IVTranscodeItemData* item) {
    const std::lock_guard lock(m_lock);
    m_item = item;
    return S_OK;
}

HRESULT CVTranscoder::GetItem(IVTranscodeItemData** item) {
    if (item == nullptr) {
        return E_POINTER;
    }
    const std::lock_guard lock(m_lock);
    return m_item.CopyTo(item);
}

HRESULT CVTranscoder::CanTranscode(VARIANT_BOOL* result) {
    if (result == nullptr) {
        return E_POINTER;
    }
    return Catch([&] {
        CComPtr<IVTranscodeItemData> item;
        {
            const std::lock_guard lock(m_lock);
            item = m_item;
        }
        *result = ToVariantBool(
            item && !CVJobCheck::FindProblem(CVTranscodeItem::ReadState(item).job).has_value());
    });
}

HRESULT CVTranscoder::Transcode(const VARIANT& priority, LONG* result) {
    if (result == nullptr) {
        return E_POINTER;
    }
    return Catch([&] {
        const CComPtr<IVTranscodeItemData> item = BeginJob();
        SVTranscodeOutcome outcome;
        CQCatch::Boundary(
            [&] { outcome = Run(CVTranscodeItem::ReadState(item).job, priority); },
            [&](CQException& error) {
                outcome = {EVTranscodeResult_UnsupportedSettings, error.GetDescription()};
            });
        EndJob(outcome.message);
        *result = outcome.result;
    });
}

HRESULT CVTranscoder::Pause(VARIANT_BOOL* paused) {
    if (paused == nullptr) {
        return E_POINTER;
    }
    const std::shared_ptr<CVConversion> conversion = RunningConversion();
    *paused = ToVariantBool(conversion && conversion->Pause());
    return S_OK;
}

HRESULT CVTranscoder::Continue(VARIANT_BOOL* resumed) {
    if (resumed == nullptr) {
        return E_POINTER;
    }
    const std::shared_ptr<CVConversion> conversion = RunningConversion();
    // Held until Continued is out, so that no report of the resumed job overtakes it.
    const std::lock_guard order(m_continueOrder);
    *resumed = ToVariantBool(conversion && conversion->Continue());
    if (*resumed == VARIANT_TRUE) {
        Send(EVTranscoderNotification_Continued);
    }
    return S_OK;
}

HRESULT CVTranscoder::Abort(VARIANT_BOOL* aborted) {
    if (aborted == nullptr) {
        return E_POINTER;
    }
    std::shared_ptr<CVConversion> conversion;
    {
        const std::lock_guard lock(m_lock);
        if (m_running && !m_conversion) {
            // The job is about to start: Run aborts it as soon as it exists.
            m_abortRequested = true;
            *aborted = VARIANT_TRUE;
            return S_OK;
        }
        conversion = m_conversion;
    }
    *aborted = ToVariantBool(conversion && conversion->Abort());
    return S_OK;
}

HRESULT CVTranscoder::GetLastError(BSTR* message) {
    if (message == nullptr) {
        return E_POINTER;
    }
    return Catch([&] {
        const std::lock_guard lock(m_lock);
        *message = m_lastError;
    });
}

HRESULT CVTranscoder::GetFileInfo(BSTR path, IVItem** info) {
    if (info == nullptr) {
        return E_POINTER;
    }
    *info = nullptr;
    return Catch([&] {
        const SVMediaInfo media = CVMediaProbe().Probe(path);
        CComPtr<IVItem> item = m_items.CreateObject<IVItem>();
        ThrowIfFailed(item->SetClassName(media.className));
        const CComPtr<IVProperties> properties = PropertiesOf(item);
        SetMetadataValue(properties, L"ItemType", media.mimeType);
        SetTranscodeValue(properties, L"Codec", media.codec);
        SetTranscodeValue(properties, L"AudioStreamCount", VARIANT(media.audioStreamCount));
        SetMetadataValue(properties, L"Width", VARIANT(media.width));
        SetMetadataValue(properties, L"Height", VARIANT(media.height));
        SetMetadataValue(properties, L"Framerate", VARIANT(media.frameRate));
        SetMetadataValue(properties, L"Bitrate", VARIANT(ClampToLong(media.bitRate)));
        *info = item.Detach();
    });
}

HRESULT CVTranscoder::GetOutputFormatInfo(LONG format, LONG infoKind, VARIANT* info) {
    if (info == nullptr) {
        return E_POINTER;
    }
    return Catch([&] {
        const SVOutputFormat& found = CVOutputFormats::Get(format);
        switch (infoKind) {
            case EVFormatInfo_Extension:
                *info = VARIANT(found.extension);
                return;
            case EVFormatInfo_MIMEType:
                *info = VARIANT(found.mimeType);
                return;
            default:
                throw CQException(QERR_INVALID_PARAMETER);
        }
    });
}

SVTranscodeOutcome CVTranscoder::Run(const SVConversionJob& job, const VARIANT& priority) {
    SVConversionOptions options;
    options.niceness = IsBackground(priority) ? k_backgroundNiceness : 0;
    options.onProgress = [this](const SVConversionProgress& progress) { SendProgress(progress); };
    auto conversion = std::make_shared<CVConversion>(job, std::move(options));
    bool abortRequested = false;
    {
        const std::lock_guard lock(m_lock);
        m_conversion = conversion;
        abortRequested = m_abortRequested;
    }
    if (abortRequested) {
        conversion->Abort();
    }
    conversion->Start();
    if (conversion->State() == EVConversionState_Running) {
        Send(EVTranscoderNotification_Started);
    }
    return conversion->Wait();
}

CComPtr<IVTranscodeItemData> CVTranscoder::BeginJob() {
    const std::lock_guard lock(m_lock);
    if (m_running) {
        throw CQException(L"The transcoder is running a job already.", QERR_INVALID_PARAMETER);
    }
    if (!m_item) {
        throw CQException(L"The transcoder has no item to transcode.", QERR_NOT_INITIALIZED);
    }
    m_running = true;
    m_abortRequested = false;
    m_lastError.clear();
    return m_item;
}

void CVTranscoder::EndJob(const std::wstring& message) {
    std::shared_ptr<CVConversion> finished;  // let go of outside the lock
    const std::lock_guard lock(m_lock);
    finished = std::move(m_conversion);
    m_running = false;
    m_lastError = message;
}

std::shared_ptr<CVConversion> CVTranscoder::RunningConversion() const {
    const std::lock_guard lock(m_lock);
    return m_conversion;
}

CComPtr<IVItem> CVTranscoder::NewEvent(EVTranscoderNotification type) {
    CComPtr<IVItem> event = m_items.CreateObject<IVItem>();
    ThrowIfFailed(event->SetClassName(k_eventClassName));
    SetTranscodeValue(PropertiesOf(event), L"Type", VARIANT(static_cast<LONG>(type)));
    return event;
}

void CVTranscoder::SendProgress(const SVConversionProgress& progress) noexcept {
    {
        // Waits for a Continue that is resuming the job to send its notification first.
        const std::lock_guard order(m_continueOrder);
    }
    CQCatch::LogAndSwallow([&] {
        const CComPtr<IVItem> event = NewEvent(EVTranscoderNotification_Progress);
        const CComPtr<IVProperties> properties = PropertiesOf(event);
        SetTranscodeValue(properties, L"Percent", VARIANT(progress.percent));
        SetTranscodeValue(properties, L"Position", VARIANT(progress.positionSeconds));
        SetTranscodeValue(properties, L"Duration", VARIANT(progress.durationSeconds));
        SetTranscodeValue(properties, L"Frames", VARIANT(progress.frames));
        SetTranscodeValue(properties, L"FramesPerSecond", VARIANT(progress.framesPerSecond));
        SetTranscodeValue(properties, L"ActiveTime", VARIANT(progress.activeSeconds));
        SetTranscodeValue(properties, L"TimeLeft", VARIANT(progress.remainingSeconds));
        Send(event);
    });
}

void CVTranscoder::Send(EVTranscoderNotification type) noexcept {
    CQCatch::LogAndSwallow([&] { Send(NewEvent(type)); });
}

void CVTranscoder::Send(IVItem* event) {
    for (const CComPtr<IDispatch>& sink : m_events.Sinks()) {
        VARIANT argument(event);
        DISPPARAMS parameters{&argument, nullptr, 1, 0};
        sink->Invoke(k_eventMethodDispId, IID_NULL, 0, DISPATCH_METHOD, &parameters, nullptr,
                     nullptr, nullptr);
    }
}
