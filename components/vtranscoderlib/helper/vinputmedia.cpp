#include "components/vtranscoderlib/helper/vinputmedia.h"

#include <cstring>
#include <string_view>

#include "components/vtranscoderlib/helper/vavlog.h"

namespace {

// Demuxers that accept text or other non-media input by its name alone.
constexpr std::string_view k_textFormats[] = {
    "tty",     "srt",  "ass", "webvtt",   "lrc", "microdvd", "subviewer",  "subviewer1", "sami",
    "jacosub", "mpl2", "pjs", "realtext", "stl", "vplayer",  "ffmetadata", "txt"};

bool IsTextFormat(const char* name) {
    for (std::string_view text : k_textFormats) {
        if (text == name) {
            return true;
        }
    }
    return false;
}

bool IsAttachedPicture(const AVStream* stream) {
    return (stream->disposition & AV_DISPOSITION_ATTACHED_PIC) != 0;
}

}  // namespace

CVInputMedia::CVInputMedia(const std::string& path) : m_path(path) {
    AVFormatContext* context = nullptr;
    int error = avformat_open_input(&context, path.c_str(), nullptr, nullptr);
    if (error < 0) {
        RaiseAVError(EVTranscodeResult_InputUnreadable, "The source " + path + " cannot be read",
                     error);
    }
    m_context.reset(context);
    if (IsTextFormat(m_context->iformat->name)) {
        RaiseHelperError(EVTranscodeResult_InputUnreadable,
                         "The source " + path + " is not a media file");
    }
    error = avformat_find_stream_info(m_context.get(), nullptr);
    if (error < 0) {
        RaiseAVError(EVTranscodeResult_InputUnreadable,
                     "The streams of the source " + path + " cannot be read", error);
    }
    for (unsigned i = 0; i < m_context->nb_streams; ++i) {
        if (IsUsable(m_context->streams[i])) {
            return;
        }
    }
    std::string logged = CVAVLog::TakeLastError();
    RaiseHelperError(EVTranscodeResult_InputUnreadable,
                     "The source " + path + " holds no picture or sound that can be decoded" +
                         (logged.empty() ? std::string() : " (" + logged + ")"));
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

AVCodecContextPtr CVInputMedia::OpenDecoder(int streamIndex) const {
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
        decoder->thread_count = 0;
        error = avcodec_open2(decoder.get(), codec, nullptr);
    }
    if (error < 0) {
        RaiseAVError(EVTranscodeResult_InputUnreadable,
                     std::string("The decoder for ") + codec->name + " cannot be opened", error);
    }
    return decoder;
}
