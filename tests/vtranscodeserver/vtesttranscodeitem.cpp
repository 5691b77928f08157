#include "tests/vtranscodeserver/vtesttranscodeitem.h"

#include <atomic>
#include <sstream>
#include <stdexcept>

#include <pugixml.hpp>

#include "qlib/qutilitylib/qstring.h"

namespace {

constexpr const char* k_element = "testitem";

std::string Utf8(const std::wstring& text) {
    return CQStringHelper::StringToMultiByte(text);
}

std::wstring Wide(const char* text) {
    return CQStringHelper::MultiByteToString(std::string(text));
}

}  // namespace

CComPtr<IVTranscodeItem> CTestTranscodeItem::Make(const std::wstring& source,
                                                  const std::wstring& destination, LONG format,
                                                  bool revised) {
    CComPtr<CTestTranscodeItem> item;
    if (FAILED(CreateComObject(&item))) {
        throw std::runtime_error("cannot create a test transcode item");
    }
    item->m_source = source;
    item->m_destination = destination;
    item->m_format = format;
    item->m_revised = revised;
    return CComPtr<IVTranscodeItem>(item.Get());
}

std::wstring CTestTranscodeItem::SourceOf(IVTranscodeItem* item) {
    CComPtr<IVTranscodeItemData> data;
    if (item == nullptr || FAILED(item->QueryInterface(IVTranscodeItemData::k_iid, data.Put()))) {
        return {};
    }
    BSTR path;
    data->GetSourcePath(&path);
    return path;
}

HRESULT CTestTranscodeItem::Initialize(BSTR sourcePath, BSTR destinationPath, LONG outputFormat,
                                       const VARIANT& productCode, SHORT* result) {
    m_source = sourcePath;
    m_destination = destinationPath;
    m_format = outputFormat;
    m_productCode = productCode.Vt() == VT_BSTR ? productCode.Get<BSTR>() : BSTR();
    *result = 0;
    return S_OK;
}

HRESULT CTestTranscodeItem::GetSourcePath(BSTR* path) {
    *path = m_source;
    return S_OK;
}
HRESULT CTestTranscodeItem::SetSourcePath(BSTR path) {
    m_source = path;
    return S_OK;
}
HRESULT CTestTranscodeItem::GetDestinationPath(BSTR* path) {
    *path = m_destination;
    return S_OK;
}
HRESULT CTestTranscodeItem::SetDestinationPath(BSTR path) {
    m_destination = path;
    return S_OK;
}
HRESULT CTestTranscodeItem::GetOutputFormat(LONG* format) {
    *format = m_format;
    return S_OK;
}
HRESULT CTestTranscodeItem::SetOutputFormat(LONG format) {
    m_format = format;
    return S_OK;
}
HRESULT CTestTranscodeItem::GetProductCode(BSTR* code) {
    *code = m_productCode;
    return S_OK;
}
HRESULT CTestTranscodeItem::SetProductCode(BSTR code) {
    m_productCode = code;
    return S_OK;
}
HRESULT CTestTranscodeItem::GetVideoSettings(LONG* width, LONG* height, double* frameRate,
                                             LONG* bitRate) {
    *width = m_width;
    *height = m_height;
    *frameRate = m_frameRate;
    *bitRate = m_videoBitRate;
    return S_OK;
}
HRESULT CTestTranscodeItem::CopyFrom(IVTranscodeItemData* other) {
    BSTR xml;
    VARIANT_BOOL loaded;
    if (other == nullptr || FAILED(other->GetItemXML(&xml))) {
        return E_INVALIDARG;
    }
    return LoadItemXML(xml, &loaded);
}
HRESULT CTestTranscodeItem::GetAudioSettings(LONG* bitRate, UINT* streamCount) {
    *bitRate = m_audioBitRate;
    *streamCount = m_audioStreams;
    return S_OK;
}
HRESULT CTestTranscodeItem::SetVideoSettings(LONG width, LONG height, double frameRate,
                                             LONG bitRate, SHORT* result) {
    m_width = width;
    m_height = height;
    m_frameRate = frameRate;
    m_videoBitRate = bitRate;
    *result = 0;
    return S_OK;
}
HRESULT CTestTranscodeItem::GetImageSize(LONG* width, LONG* height) {
    *width = m_width;
    *height = m_height;
    return S_OK;
}
HRESULT CTestTranscodeItem::SetAudioSettings(LONG bitRate, const VARIANT& streamCount,
                                             SHORT* result) {
    m_audioBitRate = bitRate;
    m_audioStreams = streamCount.Vt() == VT_UINT ? streamCount.Get<UINT>() : 0;
    *result = 0;
    return S_OK;
}
HRESULT CTestTranscodeItem::SetImageSize(LONG width, LONG height, SHORT* result) {
    m_width = width;
    m_height = height;
    *result = 0;
    return S_OK;
}

HRESULT CTestTranscodeItem::GetItemXML(BSTR* xml) {
    pugi::xml_document document;
    pugi::xml_node item = document.append_child(k_element);
    item.append_attribute("src") = Utf8(m_source).c_str();
    item.append_attribute("dst") = Utf8(m_destination).c_str();
    item.append_attribute("format") = m_format;
    item.append_attribute("product") = Utf8(m_productCode).c_str();
    item.append_attribute("width") = m_width;
    item.append_attribute("height") = m_height;
    std::ostringstream text;
    document.save(text, "", pugi::format_raw | pugi::format_no_declaration);
    *xml = CQStringHelper::MultiByteToString(text.str());
    return S_OK;
}

HRESULT CTestTranscodeItem::LoadItemXML(BSTR xml, VARIANT_BOOL* loaded) {
    pugi::xml_document document;
    const std::string bytes = Utf8(xml);
    *loaded = VARIANT_FALSE;
    if (!document.load_buffer(bytes.data(), bytes.size()) ||
        std::string(document.document_element().name()) != k_element) {
        return S_OK;
    }
    const pugi::xml_node item = document.document_element();
    m_source = Wide(item.attribute("src").value());
    m_destination = Wide(item.attribute("dst").value());
    m_format = item.attribute("format").as_int();
    m_productCode = Wide(item.attribute("product").value());
    m_width = item.attribute("width").as_int();
    m_height = item.attribute("height").as_int();
    *loaded = VARIANT_TRUE;
    return S_OK;
}

CTestTranscodeItemClass::CTestTranscodeItemClass()
    : m_registration(
          RegisterComClass<CTestTranscodeItem>(CLSID_VTranscodeItem, k_transcodeItemDisplayName)) {}

HRESULT CTestTranscodeItem::GetRevision(ULONGLONG* revision) {
    static std::atomic<ULONGLONG> s_lastRevision = 0;
    if (!m_revised) {
        return E_NOTIMPL;
    }
    BSTR xml;
    GetItemXML(&xml);
    if (m_revision == 0 || xml != m_revisedXml) {
        m_revisedXml = xml;
        m_revision = ++s_lastRevision;
    }
    *revision = m_revision;
    return S_OK;
}
