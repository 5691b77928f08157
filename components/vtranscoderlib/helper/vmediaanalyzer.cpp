#include "components/vtranscoderlib/helper/vmediaanalyzer.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "components/vtranscoderlib/helper/vavlog.h"
#include "components/vtranscoderlib/helper/vinputmedia.h"
#include "qlib/qsys/textcodec.h"

namespace {

struct SVCodecWord {
    AVCodecID codec;
    const wchar_t* word;
};

constexpr std::array k_codecWords{
    SVCodecWord{AV_CODEC_ID_H264, L"avc"},   SVCodecWord{AV_CODEC_ID_MPEG4, L"mpeg-4"},
    SVCodecWord{AV_CODEC_ID_H263, L"h263"},  SVCodecWord{AV_CODEC_ID_H263P, L"h263"},
    SVCodecWord{AV_CODEC_ID_WMV1, L"WMV1"},  SVCodecWord{AV_CODEC_ID_WMV2, L"WMV2"},
    SVCodecWord{AV_CODEC_ID_WMV3, L"WMV3"},  SVCodecWord{AV_CODEC_ID_VC1, L"WVC1"},
    SVCodecWord{AV_CODEC_ID_AAC, L"aac"},    SVCodecWord{AV_CODEC_ID_MP3, L"mp3"},
    SVCodecWord{AV_CODEC_ID_AMR_NB, L"amr"}, SVCodecWord{AV_CODEC_ID_AMR_WB, L"amr-wb"},
    SVCodecWord{AV_CODEC_ID_WMAV1, L"WMA1"}, SVCodecWord{AV_CODEC_ID_WMAV2, L"WMA2"},
    SVCodecWord{AV_CODEC_ID_MJPEG, L"jpeg"},
};

// Containers whose MIME type follows from the demuxer and whether there is video.
struct SVContainerType {
    std::string_view demuxer;
    const wchar_t* video;
    const wchar_t* audio;
};

constexpr std::array k_containerTypes{
    SVContainerType{"mp3", L"audio/mpeg", L"audio/mpeg"},
    SVContainerType{"wav", L"audio/wav", L"audio/wav"},
    SVContainerType{"aac", L"audio/aac", L"audio/aac"},
    SVContainerType{"amr", L"audio/amr", L"audio/amr"},
    SVContainerType{"aiff", L"audio/aiff", L"audio/aiff"},
    SVContainerType{"flac", L"audio/x-flac", L"audio/x-flac"},
    SVContainerType{"ac3", L"audio/ac3", L"audio/ac3"},
    SVContainerType{"asf", L"video/x-ms-wmv", L"audio/x-ms-wma"},
    SVContainerType{"avi", L"video/avi", L"video/avi"},
    SVContainerType{"matroska,webm", L"video/x-matroska", L"audio/x-matroska"},
    SVContainerType{"mpeg", L"video/mpeg", L"audio/mpeg"},
    SVContainerType{"mpegts", L"video/mp2t", L"video/mp2t"},
    SVContainerType{"flv", L"video/x-flv", L"video/x-flv"},
    SVContainerType{"ogg", L"video/ogg", L"audio/ogg"},
    SVContainerType{"rm", L"video/vnd.rn-realvideo", L"audio/x-pn-realaudio"},
};

constexpr std::array k_imageTypes{
    SVCodecWord{AV_CODEC_ID_MJPEG, L"image/jpeg"}, SVCodecWord{AV_CODEC_ID_PNG, L"image/png"},
    SVCodecWord{AV_CODEC_ID_BMP, L"image/bmp"},    SVCodecWord{AV_CODEC_ID_GIF, L"image/gif"},
    SVCodecWord{AV_CODEC_ID_TIFF, L"image/tiff"},  SVCodecWord{AV_CODEC_ID_WEBP, L"image/webp"},
};

std::string_view Brand(const AVFormatContext* context) {
    const AVDictionaryEntry* entry = av_dict_get(context->metadata, "major_brand", nullptr, 0);
    return entry ? std::string_view(entry->value) : std::string_view();
}

// ISO files: one demuxer reads them all, so the brand tells what the file is.
std::wstring IsoMimeType(const AVFormatContext* context, bool hasVideo) {
    std::string_view brand = Brand(context);
    if (brand.starts_with("3gp") || brand.starts_with("3gs")) {
        return hasVideo ? L"video/3gpp" : L"audio/3gpp";
    }
    if (brand.starts_with("3g2")) {
        return hasVideo ? L"video/3gpp2" : L"audio/3gpp2";
    }
    if (!hasVideo) {
        return L"audio/mp4";
    }
    if (brand.starts_with("qt")) {
        return L"video/quicktime";
    }
    if (brand.starts_with("M4V")) {
        return L"video/m4v";
    }
    return L"video/mp4";
}

std::wstring MimeType(const CVInputMedia& input, const AVCodecParameters* picture, bool isImage) {
    const AVFormatContext* context = input.Context();
    if (isImage) {
        for (const SVCodecWord& type : k_imageTypes) {
            if (type.codec == picture->codec_id) {
                return type.word;
            }
        }
    }
    std::string_view demuxer = context->iformat->name;
    bool hasVideo = picture != nullptr;
    if (demuxer == "mov,mp4,m4a,3gp,3g2,mj2") {
        return IsoMimeType(context, hasVideo);
    }
    for (const SVContainerType& type : k_containerTypes) {
        if (type.demuxer == demuxer) {
            return hasVideo ? type.video : type.audio;
        }
    }
    if (context->iformat->mime_type) {
        std::string_view mime = context->iformat->mime_type;
        return qsys::FromUtf8(mime.substr(0, mime.find(',')));
    }
    return L"application/octet-stream";
}

double FrameRate(const AVStream* stream) {
    AVRational rate = stream->avg_frame_rate;
    if (rate.num <= 0 || rate.den <= 0) {
        rate = stream->r_frame_rate;
    }
    return rate.num > 0 && rate.den > 0 ? av_q2d(rate) : 0.0;
}

}  // namespace

std::wstring CVMediaAnalyzer::CodecName(int codecId) {
    for (const SVCodecWord& word : k_codecWords) {
        if (word.codec == codecId) {
            return word.word;
        }
    }
    return qsys::FromUtf8(avcodec_get_name(static_cast<AVCodecID>(codecId)));
}

SVMediaInfo CVMediaAnalyzer::Analyze(CVSourceFile source) {
    CVInputMedia input(std::move(source));
    const AVFormatContext* context = input.Context();
    std::vector<int> audio = input.AudioStreams();
    bool isImage = input.IsImageContainer();
    // Cover art makes an audio file no video; a picture file has nothing else.
    int pictureIndex = input.VideoStream(isImage);
    const AVStream* picture = pictureIndex >= 0 ? context->streams[pictureIndex] : nullptr;
    if (!picture && audio.empty()) {
        RaiseHelperError(EVTranscodeResult_InputUnreadable,
                         "The source " + input.Path() + " holds only a cover picture");
    }
    const AVStream* main = picture ? picture : context->streams[audio.front()];

    SVMediaInfo info;
    info.mimeType = MimeType(input, picture ? picture->codecpar : nullptr, isImage);
    info.className = isImage ? L"Image" : picture ? L"Video" : L"Audio";
    info.codec = CodecName(main->codecpar->codec_id);
    info.audioStreamCount = static_cast<int32_t>(audio.size());
    if (picture) {
        info.width = picture->codecpar->width;
        info.height = picture->codecpar->height;
    }
    if (!isImage) {
        info.frameRate = picture ? FrameRate(picture) : 0.0;
        info.bitRate = main->codecpar->bit_rate > 0 ? main->codecpar->bit_rate
                                                    : std::max<int64_t>(context->bit_rate, 0);
        info.durationSeconds = static_cast<double>(input.DurationMicroseconds()) / 1e6;
    }
    return info;
}
