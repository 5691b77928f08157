#include "components/vtranscoderlib/helper/vinputmedia.h"

extern "C" {
#include <libavutil/display.h>
}

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <span>
#include <string_view>
#include <vector>

#include "components/vtranscoderlib/helper/vavlog.h"
#include "components/vtranscoderlib/helper/vexiforientation.h"
#include "components/vtranscoderlib/helper/vhelperlimits.h"

namespace {

// Demuxers that accept text or other non-media input by its name alone.
constexpr std::string_view k_textFormats[] = {
    "tty",     "srt",  "ass", "webvtt",   "lrc", "microdvd", "subviewer",  "subviewer1", "sami",
    "jacosub", "mpl2", "pjs", "realtext", "stl", "vplayer",  "ffmetadata", "txt"};

// Demuxers that read other files or addresses named in the source.
constexpr std::string_view k_referringFormats[] = {"concat", "hls",  "dash", "imf",
                                                   "sdp",    "rtsp", "rtp",  "vobsub"};

bool IsOneOf(std::span<const std::string_view> names, const char* name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

// The name libavformat sees: only the extension of the real one, as a hint to the type, so
// that no part of the name is taken for a protocol or a numbered pattern.
std::string NeutralName(const std::string& path) {
    std::string extension = std::filesystem::path(path).extension().string();
    bool plain =
        extension.size() > 1 && std::all_of(extension.begin() + 1, extension.end(),
                                            [](unsigned char c) { return std::isalnum(c) != 0; });
    return plain ? "source" + extension : "source";
}

std::string BudgetText() {
    return std::to_string(CVHelperLimits::k_maxPixels / 1'000'000) + " million";
}

int RefuseOpen(AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**) {
    return AVERROR(EPERM);
}

bool IsAttachedPicture(const AVStream* stream) {
    return (stream->disposition & AV_DISPOSITION_ATTACHED_PIC) != 0;
}

}  // namespace

CVInputMedia::CVInputMedia(CVSourceFile source)
    : m_source(std::move(source)), m_path(m_source.Path()) {
    m_io.reset(CVFileIO::Open(m_source.Descriptor(), CVFileIO::EVAccess_Read));
    Open();
    CheckPictureSizes();
    if (IsLonePicture()) {
        DecodePicture();
    } else {
        FindStreamInfo();
    }
    for (unsigned i = 0; i < m_context->nb_streams; ++i) {
        if (IsUsable(m_context->streams[i])) {
            return;
        }
    }
    std::string logged = CVAVLog::TakeLastError();
    // A decoder that refused the picture's size before the size reached the stream.
    if (logged.find("max pixel count") != std::string::npos) {
        RaiseHelperError(EVTranscodeResult_UnsupportedSettings,
                         "The picture of the source " + m_path + " has more pixels than the " +
                             BudgetText() + " a picture may have here (" + logged + ")");
    }
    RaiseHelperError(EVTranscodeResult_InputUnreadable,
                     "The source " + m_path + " holds no picture or sound that can be decoded" +
                         (logged.empty() ? std::string() : " (" + logged + ")"));
}

void CVInputMedia::Open() {
    std::string name = NeutralName(m_path);
    const AVInputFormat* format = nullptr;
    int error = av_probe_input_buffer2(m_io.get(), &format, name.c_str(), nullptr, 0, 0);
    if (error < 0) {
        RaiseAVError(EVTranscodeResult_InputUnreadable,
                     "The source " + m_path + " is not a media file", error);
    }
    if (IsOneOf(k_textFormats, format->name)) {
        RaiseHelperError(EVTranscodeResult_InputUnreadable,
                         "The source " + m_path + " is not a media file");
    }
    if (IsOneOf(k_referringFormats, format->name)) {
        RaiseHelperError(EVTranscodeResult_InputUnreadable,
                         "The source " + m_path + " is a list of other files or addresses (" +
                             format->name + "), not a media file");
    }
    AVFormatContext* context = avformat_alloc_context();
    if (!context) {
        throw std::bad_alloc();
    }
    context->pb = m_io.get();
    context->flags |= AVFMT_FLAG_CUSTOM_IO;
    context->io_open = &RefuseOpen;
    CVAVDictionary options;
    options.Set("protocol_whitelist", "file");
    options.Set("enable_drefs", "0");
    // Frees the context when it fails.
    error = avformat_open_input(&context, name.c_str(), format, options.Address());
    if (error < 0) {
        RaiseAVError(EVTranscodeResult_InputUnreadable, "The source " + m_path + " cannot be read",
                     error);
    }
    m_context.reset(context);
}

void CVInputMedia::FindStreamInfo() {
    // The decoders that find the streams' details keep to the pixel budget as well.
    std::vector<AVDictionary*> options(m_context->nb_streams, nullptr);
    for (AVDictionary*& streamOptions : options) {
        av_dict_set_int(&streamOptions, "max_pixels", CVHelperLimits::k_maxPixels, 0);
    }
    int error = avformat_find_stream_info(m_context.get(), options.data());
    for (AVDictionary*& streamOptions : options) {
        av_dict_free(&streamOptions);
    }
    CheckPictureSizes();
    if (error < 0) {
        RaiseAVError(EVTranscodeResult_InputUnreadable,
                     "The streams of the source " + m_path + " cannot be read", error);
    }
}

bool CVInputMedia::IsLonePicture() const {
    std::string_view name = m_context->iformat->name;
    if (m_context->nb_streams != 1 || !name.ends_with("_pipe")) {
        return false;
    }
    const AVCodecParameters* parameters = m_context->streams[0]->codecpar;
    return parameters->codec_type == AVMEDIA_TYPE_VIDEO &&
           (parameters->width <= 0 || parameters->height <= 0 || parameters->format < 0);
}

void CVInputMedia::DecodePicture() {
    AVPacketPtr packet = MakePacket();
    int error = av_read_frame(m_context.get(), packet.get());
    if (error < 0) {
        RaiseAVError(EVTranscodeResult_InputUnreadable,
                     "The picture of the source " + m_path + " cannot be read", error);
    }
    // One thread: the frame is out as soon as its packet is in.
    AVCodecContextPtr decoder = OpenDecoder(0, 1);
    AVFramePtr picture = MakeFrame();
    error = avcodec_send_packet(decoder.get(), packet.get());
    if (error >= 0) {
        error = avcodec_receive_frame(decoder.get(), picture.get());
    }
    if (error == AVERROR(EAGAIN)) {  // a decoder that holds frames back gives them up at the end
        avcodec_send_packet(decoder.get(), nullptr);
        error = avcodec_receive_frame(decoder.get(), picture.get());
    }
    if (error == AVERROR(ENOMEM)) {
        throw std::bad_alloc();
    }
    // What the decoder learned of the picture, even when it then failed, as probing keeps it.
    if (avcodec_parameters_from_context(m_context->streams[0]->codecpar, decoder.get()) < 0) {
        throw std::bad_alloc();
    }
    CheckPictureSizes();
    if (error >= 0) {
        m_picture = std::move(picture);
    }
}

AVFramePtr CVInputMedia::TakePicture(int streamIndex) {
    return streamIndex == 0 ? std::move(m_picture) : AVFramePtr();
}

void CVInputMedia::CheckPictureSizes() const {
    for (unsigned i = 0; i < m_context->nb_streams; ++i) {
        const AVCodecParameters* parameters = m_context->streams[i]->codecpar;
        if (parameters->codec_type == AVMEDIA_TYPE_VIDEO &&
            int64_t{parameters->width} * parameters->height > CVHelperLimits::k_maxPixels) {
            RaiseHelperError(
                EVTranscodeResult_UnsupportedSettings,
                "The picture of the source " + m_path + " (" + std::to_string(parameters->width) +
                    " x " + std::to_string(parameters->height) + ") has more pixels than the " +
                    BudgetText() + " a picture may have here");
        }
    }
}

bool CVInputMedia::IsUsable(const AVStream* stream) const {
    const AVCodecParameters* parameters = stream->codecpar;
    if (parameters->codec_id == AV_CODEC_ID_NONE || !avcodec_find_decoder(parameters->codec_id)) {
        return false;
    }
    if (parameters->codec_type == AVMEDIA_TYPE_VIDEO) {
        return parameters->width > 0 && parameters->height > 0 && parameters->format >= 0;
    }
    if (parameters->codec_type == AVMEDIA_TYPE_AUDIO) {
        return parameters->sample_rate > 0 && parameters->ch_layout.nb_channels > 0;
    }
    return false;
}

int CVInputMedia::VideoStream(bool allowAttachedPicture) const {
    int picture = -1;
    for (unsigned i = 0; i < m_context->nb_streams; ++i) {
        const AVStream* stream = m_context->streams[i];
        if (stream->codecpar->codec_type != AVMEDIA_TYPE_VIDEO || !IsUsable(stream)) {
            continue;
        }
        if (!IsAttachedPicture(stream)) {
            return static_cast<int>(i);
        }
        if (allowAttachedPicture && picture < 0) {
            picture = static_cast<int>(i);
        }
    }
    return picture;
}

bool CVInputMedia::HasUndecodable(AVMediaType type) const {
    for (unsigned i = 0; i < m_context->nb_streams; ++i) {
        const AVStream* stream = m_context->streams[i];
        if (stream->codecpar->codec_type == type && !IsAttachedPicture(stream) &&
            stream->codecpar->codec_id != AV_CODEC_ID_NONE && !IsUsable(stream)) {
            return true;
        }
    }
    return false;
}

std::vector<int> CVInputMedia::AudioStreams() const {
    std::vector<int> streams;
    for (unsigned i = 0; i < m_context->nb_streams; ++i) {
        const AVStream* stream = m_context->streams[i];
        if (stream->codecpar->codec_type == AVMEDIA_TYPE_AUDIO && IsUsable(stream)) {
            streams.push_back(static_cast<int>(i));
        }
    }
    return streams;
}

bool CVInputMedia::IsImageContainer() const {
    std::string_view name = m_context->iformat->name;
    return name == "image2" || name == "gif" ||
           (name.size() > 5 && name.substr(name.size() - 5) == "_pipe");
}

int64_t CVInputMedia::DurationMicroseconds() const {
    int64_t duration = m_context->duration;
    return duration == AV_NOPTS_VALUE || duration < 0 ? 0 : duration;
}

SVOrientation CVInputMedia::Orientation(int streamIndex) const {
    const AVStream* stream = m_context->streams[streamIndex];
    if (const uint8_t* matrix =
            av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, nullptr)) {
        // The matrix turns counter-clockwise; the filters name clockwise turns.
        return SVOrientation::FromRotation(
            -av_display_rotation_get(reinterpret_cast<const int32_t*>(matrix)));
    }
    if (const AVDictionaryEntry* rotate = av_dict_get(stream->metadata, "rotate", nullptr, 0)) {
        return SVOrientation::FromRotation(std::strtod(rotate->value, nullptr));
    }
    if (stream->codecpar->codec_id == AV_CODEC_ID_MJPEG && IsImageContainer()) {
        std::string start(CVExifOrientation::k_headerSize, '\0');
        ssize_t count = pread(m_source.Descriptor(), start.data(), start.size(), 0);
        start.resize(count > 0 ? static_cast<size_t>(count) : 0);
        return SVOrientation::FromExif(CVExifOrientation::Read(start));
    }
    return {};
}

AVCodecContextPtr CVInputMedia::OpenDecoder(int streamIndex, int threads) const {
    const AVStream* stream = m_context->streams[streamIndex];
    const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
    if (!codec) {
        RaiseHelperError(EVTranscodeResult_InputUnreadable,
                         std::string("The source's codec ") +
                             avcodec_get_name(stream->codecpar->codec_id) + " cannot be decoded");
    }
    AVCodecContextPtr decoder(avcodec_alloc_context3(codec));
    if (!decoder) {
        throw std::bad_alloc();
    }
    int error = avcodec_parameters_to_context(decoder.get(), stream->codecpar);
    if (error >= 0) {
        decoder->pkt_timebase = stream->time_base;
        decoder->thread_count = threads;
        decoder->max_pixels = CVHelperLimits::k_maxPixels;
        error = avcodec_open2(decoder.get(), codec, nullptr);
    }
    if (error < 0) {
        RaiseAVError(EVTranscodeResult_InputUnreadable,
                     std::string("The decoder for ") + codec->name + " cannot be opened", error);
    }
    return decoder;
}
