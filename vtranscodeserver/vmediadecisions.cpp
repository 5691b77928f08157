#include "vtranscodeserver/vmediadecisions.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <utility>

#include "qlib/qcom/comcall.h"
#include "qlib/qcom/comerror.h"
#include "qlib/qutilitylib/qcatch.h"
#include "qlib/qutilitylib/qexception.h"
#include "qlib/qutilitylib/qvariant.h"
#include "vtranscoder/vtranscodeutils.h"
#include "vtranscodeserver/vitemmediadescription.h"
#include "vtranscodeserver/vmediainformation.h"
#include "vtranscodeserver/vmediavalues.h"
#include "vtranscodeserver/vnocasematcher.h"
#include "vtranscodeserver/vprofilepath.h"
#include "vtranscodeserver/vprofilevalue.h"

namespace {

// The limit attribute table: attribute of an "equal", "max" or "min" element -> property.
struct SLimitAttribute {
    const char* attribute;
    const wchar_t* property;
    const wchar_t* uri;
};

constexpr std::array<SLimitAttribute, 5> k_limitAttributes{{
    {"width", L"Width", k_metadataNamespace},
    {"height", L"Height", k_metadataNamespace},
    {"framerate", L"Framerate", k_metadataNamespace},
    {"bitrate", L"Bitrate", k_metadataNamespace},
    {"audiostreams", L"AudioStreamCount", k_transcodeNamespace},
}};

template <class Char>
Char AsciiLower(Char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<Char>(c - 'A' + 'a') : c;
}

// Whether text begins with the lower-case ASCII prefix, ignoring the case of ASCII letters.
template <class Char>
bool StartsWithIgnoringCase(std::basic_string_view<Char> text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(),
                      [](char p, Char t) { return static_cast<Char>(p) == AsciiLower(t); });
}

// The table row of a limit attribute; the names are ASCII and compare ignoring case.
const SLimitAttribute* FindLimitAttribute(std::string_view attribute) {
    for (const SLimitAttribute& entry : k_limitAttributes) {
        const std::string_view name = entry.attribute;
        if (attribute.size() == name.size() && StartsWithIgnoringCase(attribute, name)) {
            return &entry;
        }
    }
    return nullptr;
}

// The category name of the support test: from the MIME type when the media has one (compared
// exactly), from the class otherwise; nullptr for neither.
const char* SupportCategory(const CVMediaDescription& media) {
    if (const std::optional<std::wstring> mime = media.GetMIMEType()) {
        return mime->starts_with(L"video/")   ? "video"
               : mime->starts_with(L"audio/") ? "audio"
               : mime->starts_with(L"image/") ? "image"
                                              : nullptr;
    }
    const std::wstring className = media.GetClassName();
    return className == L"Video"   ? "video"
           : className == L"Audio" ? "audio"
           : className == L"Image" ? "image"
                                   : nullptr;
}

std::wstring TextOf(VARIANT value) {
    if (value.Vt() != VT_BSTR && FAILED(value.ChangeType(VT_BSTR))) {
        return {};
    }
    return value.Get<BSTR>();
}

// An integer property as an unsigned 64-bit number; negative values above every limit.
uint64_t UnsignedOf(const VARIANT& value) {
    if (value.Vt() == VT_UI8) {
        return value.Get<uint64_t>();
    }
    return static_cast<uint64_t>(CQVariant::ToInt(value));
}

template <class T>
bool Compare(LONG mode, const T& item, const T& limit) {
    switch (mode) {
        case CVMediaDecisions::k_modeEqual:
            return item == limit;
        case CVMediaDecisions::k_modeMax:
            return item <= limit;
        case CVMediaDecisions::k_modeMin:
            return item >= limit;
        default:
            return false;
    }
}

[[noreturn]] void RaiseInvalidParameter() {
    throw CQException(QERR_INVALID_PARAMETER);
}

}  // namespace

CVMediaDecisions::CVMediaDecisions(CVAVProfileConfig& profiles) : m_profiles(profiles) {}

std::wstring CVMediaDecisions::GetNameFromXMLAttr(std::string_view attribute) {
    const SLimitAttribute* entry = FindLimitAttribute(attribute);
    return entry != nullptr ? entry->property : L"";
}

std::wstring CVMediaDecisions::GetNameSpaceFromXMLAttr(std::string_view attribute) {
    const SLimitAttribute* entry = FindLimitAttribute(attribute);
    return entry != nullptr ? entry->uri : L"";
}

bool CVMediaDecisions::IsSupported(std::wstring_view productCode,
                                   const CVMediaDescription& media) const {
    return CQCatch::Internal([&] {
        const SVProfileNode device = m_profiles.GetMCInfoElem(productCode);
        return device && IsSupported(device, media);
    });
}

bool CVMediaDecisions::IsSupported(const SVProfileNode& device,
                                   const CVMediaDescription& media) const {
    const char* category = device ? SupportCategory(media) : nullptr;
    if (category == nullptr) {
        return false;
    }
    const std::wstring mime = media.GetMIMEType().value_or(L"");
    const CVNoCaseMatcher sameMime(mime);
    return !CVProfilePath::ForEach(
        device.node, std::string(category) + "/support/type", [&](pugi::xml_node type) {
            return !(sameMime.Matches(type.attribute("mime").value()) && TypeAccepts(type, media));
        });
}

bool CVMediaDecisions::TypeAccepts(pugi::xml_node type, const CVMediaDescription& media) {
    const auto limits = type.children("limit");
    if (limits.begin() == limits.end()) {
        return true;
    }
    const std::wstring codec = TextOf(media.GetValue(L"Codec", k_transcodeNamespace));
    if (codec == L"h263") {
        return true;
    }
    const CVNoCaseMatcher sameCodec(codec);
    for (pugi::xml_node limit : limits) {
        const std::string_view limitCodec = limit.attribute("codec").value();
        if ((limitCodec.empty() || sameCodec.Matches(limitCodec)) &&
            CheckLimitMatch(limit.children("equal"), k_modeEqual, media) &&
            CheckLimitMatch(limit.children("max"), k_modeMax, media) &&
            CheckLimitMatch(limit.children("min"), k_modeMin, media)) {
            return true;
        }
    }
    return false;
}

bool CVMediaDecisions::CheckLimitMatch(pugi::xml_object_range<pugi::xml_named_node_iterator> nodes,
                                       LONG mode, const CVMediaDescription& media) {
    return CQCatch::Internal([&] {
        if (nodes.begin() == nodes.end()) {
            return true;
        }
        for (pugi::xml_node element : nodes) {
            bool passes = element.type() == pugi::node_element;
            for (pugi::xml_attribute attribute : element.attributes()) {
                passes = passes && LimitAttributePasses(attribute, mode, media);
            }
            if (passes) {
                return true;
            }
        }
        return false;
    });
}

bool CVMediaDecisions::LimitAttributePasses(const pugi::xml_attribute& attribute, LONG mode,
                                            const CVMediaDescription& media) {
    const SLimitAttribute* entry = FindLimitAttribute(attribute.name());
    if (entry == nullptr) {
        return true;
    }
    const VARIANT value = media.GetValue(entry->property, entry->uri);
    if (CQVariant::IsInteger(value)) {
        return Compare(mode, UnsignedOf(value), CVProfileValue::ToUnsigned(attribute.value()));
    }
    if (CQVariant::IsFloat(value)) {
        const double item = CQVariant::ToFloat(value);
        const double limit = CVProfileValue::ToDouble(attribute.value());
        return mode == k_modeEqual ? item == limit
                                   : Compare(mode, std::trunc(item), std::trunc(limit));
    }
    return true;
}

SVFormatDecision CVMediaDecisions::GetPossibleFormats(std::wstring_view productCode,
                                                      const CVMediaDescription* media) const {
    return CQCatch::Internal([&] {
        if (media == nullptr) {
            RaiseInvalidParameter();
        }
        SVFormatDecision decision;
        const std::wstring className = media->GetClassName();
        const std::wstring mime = media->GetMIMEType().value_or(L"");
        if (StartsWithIgnoringCase<wchar_t>(mime, "image/")) {
            AddImageFormats(m_profiles.GetMCInfoElem(productCode), *media, decision);
        } else if (StartsWithIgnoringCase<wchar_t>(mime, "video/") &&
                   (className == L"Video" || className == L"Item")) {
            AddVideoFormats(m_profiles.GetMCInfoElem(productCode), *media, decision);
        } else if (StartsWithIgnoringCase<wchar_t>(mime, "audio/") || className == L"Audio") {
            AddAudioFormats(m_profiles.GetMCInfoElem(productCode), *media, decision);
        }
        return decision;
    });
}

void CVMediaDecisions::AddVideoFormats(const SVProfileNode& device, const CVMediaDescription& media,
                                       SVFormatDecision& decision) const {
    if (device) {
        decision.supported = IsSupported(device, media);
        decision.formats = {6, 7, 8};
    } else {
        decision.deviceKnown = false;
        decision.formats = {1};
    }
}

void CVMediaDecisions::AddAudioFormats(const SVProfileNode& device, const CVMediaDescription& media,
                                       SVFormatDecision& decision) const {
    CVMediaValues probe(L"Audio");
    probe.SetMIMEType(L"audio/mp4");
    for (auto [bitrate, format] : {std::pair{192000, 14}, std::pair{128000, 13}}) {
        probe.SetValue(L"Bitrate", k_metadataNamespace, VARIANT(bitrate));
        if (IsSupported(device, probe)) {
            decision.formats.push_back(format);
            break;
        }
    }
    decision.supported = IsSupported(device, media);
}

void CVMediaDecisions::AddImageFormats(const SVProfileNode& device, const CVMediaDescription& media,
                                       SVFormatDecision& decision) const {
    const std::wstring mime = media.GetMIMEType().value_or(L"");
    const CVNoCaseMatcher sameMime(mime);
    const bool convertible = sameMime.Matches("image/png") || sameMime.Matches("image/gif") ||
                             sameMime.Matches("image/bmp") || sameMime.Matches("image/jpeg");
    if (convertible) {
        CVMediaValues probe(L"Image");
        for (auto [type, format] : {std::pair{L"image/jpeg", 15}, std::pair{L"image/bmp", 16},
                                    std::pair{L"image/png", 17}, std::pair{L"image/gif", 18}}) {
            probe.SetMIMEType(type);
            if (IsSupported(device, probe)) {
                decision.formats.push_back(format);
            }
        }
        if (device) {
            decision.formats.insert(decision.formats.end(), {19, 20, 21});
        }
    }
    decision.supported = IsSupported(device, media);
}

SVFormatDecision CVMediaDecisions::GetOutputFormatsForFile(std::wstring_view productCode,
                                                           const std::wstring& path) const {
    return CQCatch::Internal([&] {
        const CComPtr<IVItem> info = CVMediaInformation::GetFileInfo(path);
        if (info == nullptr) {
            RaiseInvalidParameter();
        }
        const CVItemMediaDescription media(info.Get());
        return GetPossibleFormats(productCode, &media);
    });
}

SVFormatDecision CVMediaDecisions::GetOutputFormatsForItem(std::wstring_view productCode,
                                                           IUnknown* item) const {
    return CQCatch::Internal(
        [&] { return DecideForItem(productCode, item, ECodecEnrichment::KnownVideoTypes); });
}

SVFormatDecision CVMediaDecisions::GetOutputFormatsForItem2(std::wstring_view productCode,
                                                            IUnknown* item) const {
    return CQCatch::Internal(
        [&] { return DecideForItem(productCode, item, ECodecEnrichment::AnyVideo); });
}

SVFormatDecision CVMediaDecisions::DecideForItem(std::wstring_view productCode, IUnknown* item,
                                                 ECodecEnrichment enrichment) const {
    CComPtr<IVItem> media;
    const HRESULT queried =
        item != nullptr ? item->QueryInterface(IVItem::k_iid, media.Put()) : E_NOINTERFACE;
    if (queried == E_NOINTERFACE || (SUCCEEDED(queried) && media == nullptr)) {
        RaiseInvalidParameter();
    }
    ThrowIfFailed(queried);
    const CVItemMediaDescription description(media.Get());
    const std::wstring mime = description.GetMIMEType().value_or(L"");
    const bool enrich = enrichment == ECodecEnrichment::AnyVideo
                            ? mime.starts_with(L"video")
                            : mime == L"video/mp4" || mime == L"video/m4v" ||
                                  mime == L"video/x-ms-wmv" || mime == L"video/3gpp";
    if (enrich) {
        EnrichCodec(media.Get());
    }
    return GetPossibleFormats(productCode, &description);
}

void CVMediaDecisions::EnrichCodec(IVItem* item) {
    const CComPtr<IVProperties> properties = ComCall(item, &IVItem::GetProperties);
    if (ComCall(properties.Get(), &IVProperties::HasValue, L"URI", k_metadataNamespace) !=
        VARIANT_TRUE) {
        return;
    }
    const std::wstring path =
        TextOf(ComCall(properties.Get(), &IVProperties::GetValue, L"URI", k_metadataNamespace));
    const CComPtr<IVItem> info = CVMediaInformation::GetFileInfo(path);
    if (info == nullptr) {
        throw _com_error(E_POINTER);
    }
    const CComPtr<IVProperties> infoProperties = ComCall(info.Get(), &IVItem::GetProperties);
    if (ComCall(infoProperties.Get(), &IVProperties::HasValue, L"Codec", k_transcodeNamespace) !=
        VARIANT_TRUE) {
        return;
    }
    const VARIANT codec =
        ComCall(infoProperties.Get(), &IVProperties::GetValue, L"Codec", k_transcodeNamespace);
    if (!TextOf(codec).empty()) {
        ComCall(properties.Get(), &IVProperties::SetValue, L"Codec", k_transcodeNamespace, codec);
    }
}

VARIANT CVMediaDecisions::GetOutputFormatInfo(std::wstring_view productCode, LONG outputFormat,
                                              LONG formatInfo) const {
    return CQCatch::Internal([&] {
        const LONG category = outputFormat >= 6 && outputFormat <= 8     ? 1
                              : outputFormat >= 19 && outputFormat <= 21 ? 3
                              : outputFormat >= 22 && outputFormat <= 24 ? 2
                                                                         : 0;
        if (category == 0) {
            return ComCall(CVMediaInformation::CreateTranscoder().Get(),
                           &IVTranscoder::GetOutputFormatInfo, outputFormat, formatInfo);
        }
        AVProfile profile;
        if (!m_profiles.GetAVProfile(productCode, category, outputFormat, profile)) {
            return VARIANT();
        }
        if (formatInfo == k_infoMIMEType) {
            return VARIANT(profile.mime);
        }
        const std::wstring extension = CVTranscodeUtils::GetExtensionFromMIMEType(profile.mime);
        return formatInfo == k_infoExtension && !extension.empty() ? VARIANT(extension) : VARIANT();
    });
}
