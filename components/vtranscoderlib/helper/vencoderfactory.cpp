#include "components/vtranscoderlib/helper/vencoderfactory.h"

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavutil/opt.h>
}

#include <cmath>
#include <string>

#include "components/vtranscoderlib/helper/vavlog.h"

namespace {

constexpr int k_keyframeSeconds = 10;

AVCodecContextPtr Allocate(const char* encoderName, const AVCodec*& codec) {
    codec = avcodec_find_encoder_by_name(encoderName);
    if (!codec) {
        RaiseHelperError(EVTranscodeResult_UnsupportedSettings,
                         std::string("The encoder ") + encoderName + " is not available");
    }
    AVCodecContextPtr context(avcodec_alloc_context3(codec));
    if (!context) {
        throw std::bad_alloc();
    }
    return context;
}

void Open(AVCodecContext* context, const AVCodec* codec, bool globalHeader) {
    if (globalHeader) {
        context->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    int error = avcodec_open2(context, codec, nullptr);
    if (error < 0) {
        RaiseAVError(EVTranscodeResult_UnsupportedSettings,
                     std::string("The encoder ") + codec->name + " refuses the settings", error);
    }
}

void CapBitRate(AVCodecContext* context, int64_t bitRate) {
    context->bit_rate = bitRate;
    context->rc_max_rate = bitRate;
    context->rc_buffer_size = static_cast<int>(std::min<int64_t>(2 * bitRate, INT32_MAX));
}

void ConfigureH264(AVCodecContext* context, const SVVideoPlan& plan) {
    av_opt_set(context->priv_data, "preset", "medium", 0);
    av_opt_set(context->priv_data, "profile", "baseline", 0);
    if (plan.level > 0) {
        context->level = plan.level;
    }
    CapBitRate(context, plan.bitRate);
}

// Options MPEG-4 Part 2 and H.263 share (both are libavcodec's mpegvideo encoders).
void ConfigureMpegVideo(AVCodecContext* context, const SVVideoPlan& plan) {
    CapBitRate(context, plan.bitRate);
    context->bit_rate_tolerance = static_cast<int>(std::min<int64_t>(plan.bitRate / 4, INT32_MAX));
    context->gop_size =
        std::max(1, static_cast<int>(std::lround(av_q2d(plan.frameRate) * k_keyframeSeconds)));
    context->thread_count = 0;
    av_opt_set(context, "mbd", "rd", AV_OPT_SEARCH_CHILDREN);
    av_opt_set_int(context, "trellis", 1, AV_OPT_SEARCH_CHILDREN);
}

void ConfigureMpeg4(AVCodecContext* context, const SVVideoPlan& plan) {
    ConfigureMpegVideo(context, plan);
    context->flags |= AV_CODEC_FLAG_4MV | AV_CODEC_FLAG_AC_PRED;
    context->profile = FF_PROFILE_MPEG4_SIMPLE;
    if (plan.level > 0) {
        context->level = plan.level;
    }
}

}  // namespace

AVCodecContextPtr CVEncoderFactory::OpenVideo(const SVOutputFormat& format, const SVVideoPlan& plan,
                                              AVFilterContext* sink, bool globalHeader) {
    const AVCodec* codec = nullptr;
    AVCodecContextPtr context = Allocate(format.videoEncoder, codec);
    context->width = av_buffersink_get_w(sink);
    context->height = av_buffersink_get_h(sink);
    context->pix_fmt = static_cast<AVPixelFormat>(av_buffersink_get_format(sink));
    context->sample_aspect_ratio = av_buffersink_get_sample_aspect_ratio(sink);
    context->time_base = av_buffersink_get_time_base(sink);
    context->framerate = av_buffersink_get_frame_rate(sink);
    const std::string encoder = format.videoEncoder;
    if (encoder == "libx264") {
        ConfigureH264(context.get(), plan);
    } else if (encoder == "mpeg4") {
        ConfigureMpeg4(context.get(), plan);
    } else if (encoder == "h263") {
        ConfigureMpegVideo(context.get(), plan);
    } else if (encoder == "mjpeg") {
        context->flags |= AV_CODEC_FLAG_QSCALE;
        context->global_quality = FF_QP2LAMBDA * k_jpegQuality;
        context->color_range = AVCOL_RANGE_JPEG;
    }
    Open(context.get(), codec, globalHeader);
    return context;
}

AVCodecContextPtr CVEncoderFactory::OpenAudio(const SVOutputFormat& format, const SVAudioPlan& plan,
                                              AVFilterContext* sink, bool globalHeader) {
    const AVCodec* codec = nullptr;
    AVCodecContextPtr context = Allocate(format.audioEncoder, codec);
    context->sample_fmt = static_cast<AVSampleFormat>(av_buffersink_get_format(sink));
    context->sample_rate = av_buffersink_get_sample_rate(sink);
    int error = av_buffersink_get_ch_layout(sink, &context->ch_layout);
    if (error < 0) {
        RaiseAVError(EVTranscodeResult_ConversionFailed, "The channel layout is unknown", error);
    }
    context->time_base = AVRational{1, context->sample_rate};
    context->bit_rate = plan.bitRate;
    Open(context.get(), codec, globalHeader);
    return context;
}
