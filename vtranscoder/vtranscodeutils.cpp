#include "vtranscoder/vtranscodeutils.h"

#include <array>

#include "qlib/qsys/nocase.h"
#include "qlib/qutilitylib/qfileutilities.h"

namespace {

constexpr std::array<SVMimeTypeEntry, 48> k_mimeTable{{
    {L".mp3", L"audio/mpeg"},
    {L".wav", L"audio/wav"},
    {L".au", L"audio/wav"},
    {L".aif", L"audio/wav"},
    {L".mpg", L"video/mpeg"},
    {L".mpeg", L"video/mpeg"},
    {L".mp2", L"video/mpeg"},
    {L".mp2v", L"video/mpeg"},
    {L".m4v", L"video/m4v"},
    {L".mp4", L"video/mp4"},
    {L".m4a", L"audio/mp4"},
    {L".m4a", L"audio/m4a"},
    {L".aac", L"audio/aac"},
    {L".amr", L"audio/amr"},
    {L".avi", L"video/avi"},
    {L".mov", L"video/quicktime"},
    {L".wmv", L"video/x-ms-wmv"},
    {L".wma", L"audio/x-ms-wma"},
    {L".asf", L"video/x-ms-asf"},
    {L".dvr-ms", L"video/x-ms-dvr"},
    {L".3gp", L"video/3gpp"},
    {L".3gpp", L"video/3gpp"},
    {L".divx", L"video/divx"},
    {L".vob", L"video/dvd"},
    {L".flac", L"audio/x-flac"},
    {L".ogg", L"audio/ogg"},
    {L".ogg", L"audio/x-ogg"},
    {L".oga", L"audio/ogg"},
    {L".oga", L"audio/x-ogg"},
    {L".ogv", L"video/ogg"},
    {L".ogv", L"video/x-ogg"},
    {L".ac3", L"audio/ac3"},
    {L".rm", L"audio/x-pn-realaudio"},
    {L".ra", L"audio/x-pn-realaudio"},
    {L".ram", L"audio/x-pn-realaudio"},
    {L".rv", L"video/vnd.rn-realvideo"},
    {L".rmvb", L"video/vnd.rn-realmedia-vbr"},
    {L".flv", L"video/x-flv"},
    {L".mid", L"audio/midi"},
    {L".mkv", L"video/x-matroska"},
    {L".mka", L"audio/x-matroska"},
    {L".jpg", L"image/jpeg"},
    {L".jpeg", L"image/jpeg"},
    {L".bmp", L"image/bmp"},
    {L".gif", L"image/gif"},
    {L".png", L"image/png"},
    {L".tif", L"image/tiff"},
    {L".tiff", L"image/tiff"},
}};

}  // namespace

std::wstring CVTranscodeUtils::GetMIMETypeFromExtension(std::wstring_view extension) {
    for (const SVMimeTypeEntry& entry : k_mimeTable) {
        if (qsys::EqualsIgnoreCase(entry.extension, extension)) {
            return std::wstring(entry.mimeType);
        }
    }
    return std::wstring(k_defaultMIMEType);
}

std::wstring CVTranscodeUtils::GetExtensionFromMIMEType(std::wstring_view mimeType) {
    for (const SVMimeTypeEntry& entry : k_mimeTable) {
        if (qsys::EqualsIgnoreCase(entry.mimeType, mimeType)) {
            return std::wstring(entry.extension);
        }
    }
    return {};
}

std::wstring CVTranscodeUtils::GetMIMETypeFromPath(const std::wstring& path) {
    return GetMIMETypeFromExtension(CQFileUtilities::GetFileExtension(path));
}

std::span<const SVMimeTypeEntry> CVTranscodeUtils::GetMIMETable() {
    return k_mimeTable;
}
