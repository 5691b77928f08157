#include "vtranscodeserver/vavprofileconfig.h"

#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <string>

#include "qlib/qcom/comcall.h"
#include "qlib/qsys/resourcetable.h"
#include "qlib/qsys/textcodec.h"
#include "qlib/qutilitylib/qcatch.h"
#include "qlib/qutilitylib/qexception.h"
#include "qlib/qutilitylib/qfileutilities.h"
#include "qlib/qutilitylib/qlockholder.h"
#include "qlib/qutilitylib/qregistry.h"
#include "qlib/qutilitylib/qresource.h"
#include "vtranscodeserver/vnocasematcher.h"
#include "vtranscodeserver/vprofilepath.h"
#include "vtranscodeserver/vprofilevalue.h"

namespace {

constexpr std::string_view k_mcInfoPath = "/profiles/profilemap/mcinfo";
constexpr std::string_view k_profileSetPath = "/profiles/profiletable/profileset";

std::string_view AttributeText(pugi::xml_node element, const char* name) {
    return element.attribute(name).value();
}

}  // namespace

bool CVAVProfileConfig::SFileStamp::SameAs(const SFileStamp& other) const {
    return modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec &&
           size == other.size && inode == other.inode && device == other.device;
}

std::wstring CVAVProfileConfig::ReadConfiguredFileName() {
    return CQCatch::Internal(
        [] { return CQRegistry::GetStringValue(k_registryKey, k_registryValue, L""); });
}

void CVAVProfileConfig::Load(const std::wstring& fileName) {
    CQCatch::Internal([&] {
        CQLockHolder holder(m_profileLock);
        m_fileName = fileName;
        m_fileStamp.reset();
        if (fileName.empty()) {
            LoadAVProfileXML(
                CQResource::LoadTextResource(qsys::ResourceTable::Process(), k_resourceId));
            return;
        }
        if (const std::optional<SFileStamp> stamp = StampOf(fileName)) {
            LoadFile(fileName, *stamp);
        }
    });
}

void CVAVProfileConfig::LoadAVProfileXML(const std::wstring& text) {
    CQCatch::Internal([&] {
        const std::string bytes = qsys::ToUtf8(text);
        auto document = std::make_shared<pugi::xml_document>();
        const pugi::xml_parse_result parsed = document->load_buffer(
            bytes.data(), bytes.size(), pugi::parse_default, pugi::encoding_utf8);
        CQLockHolder holder(m_profileLock);
        if (!parsed) {
            m_document.reset();
            CQException error(QERR_INVALID_STRING_FORMAT);
            error.AddValue(L"Reason", qsys::FromUtf8(parsed.description()));
            error.AddValue(L"Offset",
                           static_cast<int>(std::min<ptrdiff_t>(parsed.offset, INT32_MAX)));
            throw error;
        }
        m_document = std::move(document);
    });
}

void CVAVProfileConfig::Refresh() {
    CQCatch::Internal([&] {
        CQLockHolder holder(m_profileLock);
        if (m_fileName.empty()) {
            return;
        }
        const std::optional<SFileStamp> stamp = StampOf(m_fileName);
        if (stamp && !(m_fileStamp && m_fileStamp->SameAs(*stamp))) {
            LoadFile(m_fileName, *stamp);
        }
    });
}

bool CVAVProfileConfig::IsLoaded() const {
    return Document() != nullptr;
}

std::wstring CVAVProfileConfig::GetFileName() const {
    CQLockHolder holder(m_profileLock);
    return m_fileName;
}

std::optional<CVAVProfileConfig::SFileStamp> CVAVProfileConfig::StampOf(
    const std::wstring& fileName) {
    struct stat status {};
    if (::stat(qsys::ToUtf8(fileName).c_str(), &status) != 0) {
        return std::nullopt;
    }
    return SFileStamp{status.st_mtim, status.st_size, status.st_ino, status.st_dev};
}

void CVAVProfileConfig::LoadFile(const std::wstring& fileName, const SFileStamp& stamp) {
    LoadAVProfileXML(CQFileUtilities::ReadTextFile(fileName));
    m_fileStamp = stamp;
}

std::shared_ptr<const pugi::xml_document> CVAVProfileConfig::Document() const {
    CQLockHolder holder(m_profileLock);
    return m_document;
}

std::shared_ptr<const pugi::xml_document> CVAVProfileConfig::RequireDocument() const {
    std::shared_ptr<const pugi::xml_document> document = Document();
    if (document == nullptr) {
        throw CQException(QERR_UNDEFINED);
    }
    return document;
}

SVProfileNode CVAVProfileConfig::GetMCInfoElem(std::wstring_view productCode) const {
    return CQCatch::Internal([&] {
        std::shared_ptr<const pugi::xml_document> document = RequireDocument();
        const CVNoCaseMatcher matcher(productCode);
        const pugi::xml_node device =
            CVProfilePath::SelectFirst(*document, k_mcInfoPath, [&](pugi::xml_node entry) {
                return matcher.Matches(AttributeText(entry, "productcode"));
            });
        return device ? SVProfileNode{std::move(document), device} : SVProfileNode{};
    });
}

SVProfileNode CVAVProfileConfig::GetProfile(const SVProfileNode& context,
                                            std::string_view path) const {
    return CQCatch::Internal([&] {
        std::shared_ptr<const pugi::xml_document> document =
            context ? context.document : RequireDocument();
        const pugi::xml_node start = context ? context.node : document->root();
        const pugi::xml_node reference =
            CVProfilePath::SelectFirst(start, std::string(path) + "/profile");
        const std::string_view mime = AttributeText(reference, "mime");
        const std::string_view id = AttributeText(reference, "profileid");
        if (mime.empty() || id.empty()) {
            return SVProfileNode{};
        }
        return ProfileRow(document, mime, id);
    });
}

SVProfileNode CVAVProfileConfig::GetProfile(std::wstring_view mime, std::wstring_view id) const {
    return CQCatch::Internal([&] {
        std::shared_ptr<const pugi::xml_document> document = Document();
        if (document == nullptr || mime.empty() || id.empty()) {
            return SVProfileNode{};
        }
        return ProfileRow(document, qsys::ToUtf8(mime), qsys::ToUtf8(id));
    });
}

CComPtr<IVItem> CVAVProfileConfig::GetProfileItem(std::wstring_view mime, std::wstring_view id,
                                                  CQCOMClassFactory& items) const {
    return CQCatch::Internal([&]() -> CComPtr<IVItem> {
        const SVProfileNode row = GetProfile(mime, id);
        if (!row) {
            return nullptr;
        }
        CComPtr<IVItem> item = items.CreateObject<IVItem>();
        const CComPtr<IVProperties> properties = ComCall(item.Get(), &IVItem::GetProperties);
        ComCall(properties.Get(), &IVProperties::SetValue, L"mime", k_transcodeNamespace,
                VARIANT(std::wstring(mime)));
        for (pugi::xml_attribute attribute : row.node.attributes()) {
            ComCall(properties.Get(), &IVProperties::SetValue, qsys::FromUtf8(attribute.name()),
                    k_transcodeNamespace, VARIANT(qsys::FromUtf8(attribute.value())));
        }
        return item;
    });
}

SVProfileNode CVAVProfileConfig::ProfileRow(
    const std::shared_ptr<const pugi::xml_document>& document, std::string_view mime,
    std::string_view id) {
    pugi::xml_node row;
    CVProfilePath::ForEach(*document, k_profileSetPath, [&](pugi::xml_node set) {
        if (AttributeText(set, "mime") != mime) {
            return true;
        }
        for (pugi::xml_node profile : set.children("profile")) {
            if (AttributeText(profile, "id") == id) {
                row = profile;
                return false;
            }
        }
        return true;
    });
    return row ? SVProfileNode{document, row} : SVProfileNode{};
}

const char* CVAVProfileConfig::LevelOfOutputFormat(LONG outputFormat) {
    switch (outputFormat) {
        case 6:
        case 19:
        case 22:
            return "low";
        case 7:
        case 20:
        case 23:
            return "medium";
        case 8:
        case 21:
        case 24:
            return "high";
        default:
            return nullptr;
    }
}

bool CVAVProfileConfig::GetAVProfile(std::wstring_view productCode, LONG category,
                                     LONG outputFormat, AVProfile& profile) {
    return CQCatch::Internal([&] {
        const char* level = LevelOfOutputFormat(outputFormat);
        if (level == nullptr) {
            return false;
        }
        Refresh();
        const char* categoryName = category == k_categoryVideo   ? "video"
                                   : category == k_categoryAudio ? "audio"
                                   : category == k_categoryImage ? "image"
                                                                 : nullptr;
        if (categoryName == nullptr) {
            CQException error(QERR_INVALID_PARAMETER);
            error.AddValue(L"Category", static_cast<int>(category));
            throw error;
        }
        const SVProfileNode device = GetMCInfoElem(productCode);
        const SVProfileNode row =
            device ? GetProfile(device, std::string(categoryName) + "/" + level)
                   : GetProfile(SVProfileNode{},
                                std::string("/profiles/profilemap/default/") + categoryName);
        if (!row) {
            return false;
        }
        profile.mime = qsys::FromUtf8(AttributeText(row.node.parent(), "mime"));
        CopyProfile(row.node, category, profile);
        return true;
    });
}

void CVAVProfileConfig::CopyProfile(pugi::xml_node row, LONG category, AVProfile& profile) {
    const auto copyUnsigned = [&](const char* name, uint32_t& field) {
        if (const pugi::xml_attribute attribute = row.attribute(name)) {
            field = CVProfileValue::ToUnsigned32(attribute.value());
        }
    };
    const auto copyText = [&](const char* name, std::wstring& field) {
        if (const pugi::xml_attribute attribute = row.attribute(name)) {
            field = qsys::FromUtf8(attribute.value());
        }
    };
    if (category == k_categoryVideo || category == k_categoryImage) {
        copyUnsigned("width", profile.width);
        copyUnsigned("height", profile.height);
    }
    if (category == k_categoryVideo) {
        if (const pugi::xml_attribute framerate = row.attribute("framerate")) {
            profile.framerate = CVProfileValue::ToDouble(framerate.value());
        }
    }
    if (category == k_categoryVideo || category == k_categoryAudio) {
        copyUnsigned("bitrate", profile.bitrate);
        copyUnsigned("audiostreams", profile.audioStreams);
        copyText("codec", profile.codec);
    }
}
