#include "components/vtranscoderlib/vtranscodeitem.h"

#include <atomic>

#include "components/vtranscoderlib/vtranscodeitemxml.h"
#include "qlib/qutilitylib/qcatch.h"

template <class Body>
HRESULT CVTranscodeItem::Catch(Body&& body, const std::source_location& location) {
    return CQCatch::Interface(IVTranscodeItemData::k_iid, CLSID_VTranscodeItem,
                              std::forward<Body>(body), location);
}

template <class Change>
HRESULT CVTranscodeItem::ChangeSettings(SHORT* result, Change&& change) {
    if (result == nullptr) {
        return E_POINTER;
    }
    const std::lock_guard lock(m_lock);
    SVTranscodeSettings settings = m_state.job.settings;
    change(settings);
    if (FindSettingsProblem(settings)) {
        *result = k_settingsRefused;
        return S_OK;
    }
    Changing().job.settings = settings;
    *result = k_settingsTaken;
    return S_OK;
}

SVTranscodeItemState CVTranscodeItem::ReadState(IVTranscodeItemData* item) {
    SVTranscodeItemState state;
    SVTranscodeSettings& settings = state.job.settings;
    LONG format = 0;
    ThrowIfFailed(item->GetSourcePath(&state.job.source));
    ThrowIfFailed(item->GetDestinationPath(&state.job.destination));
    ThrowIfFailed(item->GetOutputFormat(&format));
    ThrowIfFailed(item->GetProductCode(&state.productCode));
    ThrowIfFailed(item->GetVideoSettings(&settings.videoWidth, &settings.videoHeight,
                                         &settings.frameRate, &settings.videoBitRate));
    ThrowIfFailed(item->GetAudioSettings(&settings.audioBitRate, &settings.audioStreams));
    ThrowIfFailed(item->GetImageSize(&settings.imageWidth, &settings.imageHeight));
    state.job.outputFormat = format;
    return state;
}

HRESULT CVTranscodeItem::Initialize(BSTR sourcePath, BSTR destinationPath, LONG outputFormat,
                                    const VARIANT& productCode, SHORT* result) {
    if (result == nullptr) {
        return E_POINTER;
    }
    const VARTYPE codeVt = productCode.Vt();
    if (codeVt != VT_BSTR && codeVt != VT_EMPTY && codeVt != VT_NULL && !productCode.IsMissing()) {
        return DISP_E_TYPEMISMATCH;
    }
    return Catch([&] {
        const std::lock_guard lock(m_lock);
        Changing().job.source = std::move(sourcePath);
        Changing().job.destination = std::move(destinationPath);
        Changing().job.outputFormat = outputFormat;
        Changing().productCode = codeVt == VT_BSTR ? productCode.Get<BSTR>() : BSTR();
        *result = 0;
    });
}

HRESULT CVTranscodeItem::GetSourcePath(BSTR* path) {
    if (path == nullptr) {
        return E_POINTER;
    }
    return Catch([&] { *path = State().job.source; });
}

HRESULT CVTranscodeItem::SetSourcePath(BSTR path) {
    const std::lock_guard lock(m_lock);
    Changing().job.source = std::move(path);
    return S_OK;
}

HRESULT CVTranscodeItem::GetDestinationPath(BSTR* path) {
    if (path == nullptr) {
        return E_POINTER;
    }
    return Catch([&] { *path = State().job.destination; });
}

HRESULT CVTranscodeItem::SetDestinationPath(BSTR path) {
    const std::lock_guard lock(m_lock);
    Changing().job.destination = std::move(path);
    return S_OK;
}

HRESULT CVTranscodeItem::GetOutputFormat(LONG* format) {
    if (format == nullptr) {
        return E_POINTER;
    }
    const std::lock_guard lock(m_lock);
    *format = m_state.job.outputFormat;
    return S_OK;
}

HRESULT CVTranscodeItem::SetOutputFormat(LONG format) {
    const std::lock_guard lock(m_lock);
    Changing().job.outputFormat = format;
    return S_OK;
}

HRESULT CVTranscodeItem::GetProductCode(BSTR* code) {
    if (code == nullptr) {
        return E_POINTER;
    }
    return Catch([&] { *code = State().productCode; });
}

HRESULT CVTranscodeItem::SetProductCode(BSTR code) {
    const std::lock_guard lock(m_lock);
    Changing().productCode = std::move(code);
    return S_OK;
}

HRESULT CVTranscodeItem::GetVideoSettings(LONG* width, LONG* height, double* frameRate,
                                          LONG* bitRate) {
    if (width == nullptr || height == nullptr || frameRate == nullptr || bitRate == nullptr) {
        return E_POINTER;
    }
    const std::lock_guard lock(m_lock);
    const SVTranscodeSettings& settings = m_state.job.settings;
    *width = settings.videoWidth;
    *height = settings.videoHeight;
    *frameRate = settings.frameRate;
    *bitRate = settings.videoBitRate;
    return S_OK;
}

HRESULT CVTranscodeItem::CopyFrom(IVTranscodeItemData* other) {
    if (other == nullptr) {
        return E_POINTER;
    }
    return Catch([&] {
        SVTranscodeItemState state = ReadState(other);
        const std::lock_guard lock(m_lock);
        Changing() = std::move(state);
    });
}

HRESULT CVTranscodeItem::GetAudioSettings(LONG* bitRate, UINT* streamCount) {
    if (bitRate == nullptr || streamCount == nullptr) {
        return E_POINTER;
    }
    const std::lock_guard lock(m_lock);
    *bitRate = m_state.job.settings.audioBitRate;
    *streamCount = m_state.job.settings.audioStreams;
    return S_OK;
}

HRESULT CVTranscodeItem::SetVideoSettings(LONG width, LONG height, double frameRate, LONG bitRate,
                                          SHORT* result) {
    return ChangeSettings(result, [&](SVTranscodeSettings& settings) {
        settings.videoWidth = width;
        settings.videoHeight = height;
        settings.frameRate = frameRate;
        settings.videoBitRate = bitRate;
    });
}

HRESULT CVTranscodeItem::GetImageSize(LONG* width, LONG* height) {
    if (width == nullptr || height == nullptr) {
        return E_POINTER;
    }
    const std::lock_guard lock(m_lock);
    *width = m_state.job.settings.imageWidth;
    *height = m_state.job.settings.imageHeight;
    return S_OK;
}

HRESULT CVTranscodeItem::SetAudioSettings(LONG bitRate, const VARIANT& streamCount, SHORT* result) {
    VARIANT count;
    if (streamCount.Vt() == VT_BSTR ||
        FAILED(VariantChangeType(&count, &streamCount, 0, VT_UINT))) {
        return DISP_E_TYPEMISMATCH;
    }
    return ChangeSettings(result, [&](SVTranscodeSettings& settings) {
        settings.audioBitRate = bitRate;
        settings.audioStreams = count.Get<uint32_t>();
    });
}

HRESULT CVTranscodeItem::SetImageSize(LONG width, LONG height, SHORT* result) {
    return ChangeSettings(result, [&](SVTranscodeSettings& settings) {
        settings.imageWidth = width;
        settings.imageHeight = height;
    });
}

HRESULT CVTranscodeItem::GetItemXML(BSTR* xml) {
    if (xml == nullptr) {
        return E_POINTER;
    }
    return Catch([&] {
        const std::lock_guard lock(m_lock);
        if (!m_xml) {
            m_xml = CVTranscodeItemXML::Write(m_state);
        }
        *xml = *m_xml;
    });
}

HRESULT CVTranscodeItem::LoadItemXML(BSTR xml, VARIANT_BOOL* loaded) {
    if (loaded == nullptr) {
        return E_POINTER;
    }
    return Catch([&] {
        std::optional<SVTranscodeItemState> state;
        if (xml.size() <= k_maxXmlLength) {
            state = CVTranscodeItemXML::Read(xml);
        }
        *loaded = ToVariantBool(state.has_value());
        if (state) {
            const std::lock_guard lock(m_lock);
            Changing() = std::move(*state);
        }
    });
}

HRESULT CVTranscodeItem::GetRevision(ULONGLONG* revision) {
    if (revision == nullptr) {
        return E_POINTER;
    }
    const std::lock_guard lock(m_lock);
    *revision = m_revision;
    return S_OK;
}

SVTranscodeItemState& CVTranscodeItem::Changing() {
    m_xml.reset();
    m_revision = NewRevision();
    return m_state;
}

ULONGLONG CVTranscodeItem::NewRevision() {
    static std::atomic<ULONGLONG> s_lastRevision = 0;
    return ++s_lastRevision;
}

SVTranscodeItemState CVTranscodeItem::State() const {
    const std::lock_guard lock(m_lock);
    return m_state;
}
