#include "components/vtranscoderlib/vtranscodeitemxml.h"

#include <pugixml.hpp>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "qlib/qsys/textcodec.h"

namespace {

// The attributes, in the order they are written.
constexpr const char* k_source = "SourcePath";
constexpr const char* k_destination = "DestinationPath";
constexpr const char* k_format = "OutputFormat";
constexpr const char* k_productCode = "ProductCode";
constexpr const char* k_videoWidth = "VideoWidth";
constexpr const char* k_videoHeight = "VideoHeight";
constexpr const char* k_frameRate = "FrameRate";
constexpr const char* k_videoBitRate = "VideoBitRate";
constexpr const char* k_audioBitRate = "AudioBitRate";
constexpr const char* k_audioStreams = "AudioStreams";
constexpr const char* k_imageWidth = "ImageWidth";
constexpr const char* k_imageHeight = "ImageHeight";

// Collects what pugixml writes.
class CStringWriter final : public pugi::xml_writer {
public:
    void write(const void* data, size_t size) override {
        m_text.append(static_cast<const char*>(data), size);
    }
    std::string m_text;
};

std::string ExactText(double value) {
    char text[32];
    std::snprintf(text, sizeof(text), "%.17g", value);
    return text;
}

// A whole decimal number of type T (the attribute's full value), or nullopt.
template <class T>
std::optional<T> ReadNumber(const pugi::xml_attribute& attribute) {
    const std::string_view text = attribute.value();
    T value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

// A finite decimal number (the attribute's full value), or nullopt.
std::optional<double> ReadDouble(const pugi::xml_attribute& attribute) {
    const char* text = attribute.value();
    char* end = nullptr;
    const double value = std::strtod(text, &end);
    if (*text == '\0' || *end != '\0' || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

// Reads the optional attribute `name` into *value with `read`; false when it is there but
// malformed.
template <class T, class Reader>
bool ReadOptional(const pugi::xml_node& element, const char* name, T* value, Reader read) {
    const pugi::xml_attribute attribute = element.attribute(name);
    if (!attribute) {
        return true;
    }
    const auto read_value = read(attribute);
    if (!read_value) {
        return false;
    }
    *value = *read_value;
    return true;
}

// The one element of the document, or an empty node when it holds anything else.
pugi::xml_node OnlyElement(const pugi::xml_document& document) {
    pugi::xml_node found;
    for (const pugi::xml_node& node : document.children()) {
        if (node.type() == pugi::node_declaration || node.type() == pugi::node_comment) {
            continue;
        }
        if (node.type() != pugi::node_element || found) {
            return {};
        }
        found = node;
    }
    return found;
}

bool ReadSettings(const pugi::xml_node& element, SVTranscodeSettings* settings) {
    return ReadOptional(element, k_videoWidth, &settings->videoWidth, ReadNumber<int32_t>) &&
           ReadOptional(element, k_videoHeight, &settings->videoHeight, ReadNumber<int32_t>) &&
           ReadOptional(element, k_frameRate, &settings->frameRate, ReadDouble) &&
           ReadOptional(element, k_videoBitRate, &settings->videoBitRate, ReadNumber<int32_t>) &&
           ReadOptional(element, k_audioBitRate, &settings->audioBitRate, ReadNumber<int32_t>) &&
           ReadOptional(element, k_audioStreams, &settings->audioStreams, ReadNumber<uint32_t>) &&
           ReadOptional(element, k_imageWidth, &settings->imageWidth, ReadNumber<int32_t>) &&
           ReadOptional(element, k_imageHeight, &settings->imageHeight, ReadNumber<int32_t>);
}

}  // namespace

std::wstring CVTranscodeItemXML::Write(const SVTranscodeItemState& state) {
    const SVConversionJob& job = state.job;
    const SVTranscodeSettings& settings = job.settings;
    pugi::xml_document document;
    pugi::xml_node element = document.append_child(k_elementName);
    element.append_attribute(k_source) = qsys::ToUtf8(job.source).c_str();
    element.append_attribute(k_destination) = qsys::ToUtf8(job.destination).c_str();
    element.append_attribute(k_format) = job.outputFormat;
    element.append_attribute(k_productCode) = qsys::ToUtf8(state.productCode).c_str();
    element.append_attribute(k_videoWidth) = settings.videoWidth;
    element.append_attribute(k_videoHeight) = settings.videoHeight;
    element.append_attribute(k_frameRate) = ExactText(settings.frameRate).c_str();
    element.append_attribute(k_videoBitRate) = settings.videoBitRate;
    element.append_attribute(k_audioBitRate) = settings.audioBitRate;
    element.append_attribute(k_audioStreams) = settings.audioStreams;
    element.append_attribute(k_imageWidth) = settings.imageWidth;
    element.append_attribute(k_imageHeight) = settings.imageHeight;
    CStringWriter writer;
    element.print(writer, "", pugi::format_raw, pugi::encoding_utf8);
    return qsys::FromUtf8(writer.m_text);
}

std::optional<SVTranscodeItemState> CVTranscodeItemXML::Read(std::wstring_view xml) {
    const std::string text = qsys::ToUtf8(xml);
    pugi::xml_document document;
    // No whitespace conversion of attribute values: they come back exactly as written. Parsed
    // as a fragment, so that text around the element is kept, and refused.
    const unsigned options =
        pugi::parse_escapes | pugi::parse_declaration | pugi::parse_comments | pugi::parse_fragment;
    if (!document.load_buffer(text.data(), text.size(), options, pugi::encoding_utf8)) {
        return std::nullopt;
    }
    const pugi::xml_node element = OnlyElement(document);
    if (!element || std::string_view(element.name()) != k_elementName ||
        !element.attribute(k_source) || !element.attribute(k_destination)) {
        return std::nullopt;
    }
    SVTranscodeItemState state;
    const std::optional<int32_t> format = ReadNumber<int32_t>(element.attribute(k_format));
    if (!format || !ReadSettings(element, &state.job.settings) ||
        FindSettingsProblem(state.job.settings)) {
        return std::nullopt;
    }
    state.job.source = qsys::FromUtf8(element.attribute(k_source).value());
    state.job.destination = qsys::FromUtf8(element.attribute(k_destination).value());
    state.job.outputFormat = *format;
    state.productCode = qsys::FromUtf8(element.attribute(k_productCode).value());
    return state;
}
