#include "components/vtranscoderlib/helper/vfilterchain.h"

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/channel_layout.h>
#include <libavutil/pixdesc.h>
}

#include "components/vtranscoderlib/helper/vavlog.h"

namespace {

[[noreturn]] void RaiseFilterError(const std::string& what, int error) {
    RaiseAVError(EVTranscodeResult_ConversionFailed, what, error);
}

std::string Rational(AVRational value) {
    return std::to_string(value.num) + "/" + std::to_string(value.den);
}

}  // namespace

CVFilterChain::CVFilterChain(const char* sourceFilter, const std::string& sourceArguments,
                             const char* sinkFilter, const std::string& description, int threads)
    : m_graph(avfilter_graph_alloc()) {
    if (!m_graph) {
        throw std::bad_alloc();
    }
    // Before the first filter is made: that makes the graph's threads.
    m_graph->nb_threads = threads;
    m_graph->scale_sws_opts = av_strdup("flags=bicubic");
    int error = avfilter_graph_create_filter(&m_source, avfilter_get_by_name(sourceFilter), "in",
                                             sourceArguments.c_str(), nullptr, m_graph.get());
    if (error < 0) {
        RaiseFilterError("The filter source (" + sourceArguments + ") cannot be made", error);
    }
    error = avfilter_graph_create_filter(&m_sink, avfilter_get_by_name(sinkFilter), "out", nullptr,
                                         nullptr, m_graph.get());
    if (error < 0) {
        RaiseFilterError("The filter sink cannot be made", error);
    }
    // The parser's open ends: "in" feeds the chain's first input, its last output feeds "out".
    AVFilterInOutPtr outputs(avfilter_inout_alloc());
    AVFilterInOutPtr inputs(avfilter_inout_alloc());
    if (!outputs || !inputs) {
        throw std::bad_alloc();
    }
    outputs->name = av_strdup("in");
    outputs->filter_ctx = m_source;
    inputs->name = av_strdup("out");
    inputs->filter_ctx = m_sink;
    AVFilterInOut* openOutputs = outputs.release();
    AVFilterInOut* openInputs = inputs.release();
    error = avfilter_graph_parse_ptr(m_graph.get(), description.c_str(), &openInputs, &openOutputs,
                                     nullptr);
    avfilter_inout_free(&openInputs);
    avfilter_inout_free(&openOutputs);
    if (error < 0) {
        RaiseFilterError("The filter chain \"" + description + "\" cannot be built", error);
    }
    error = avfilter_graph_config(m_graph.get(), nullptr);
    if (error < 0) {
        RaiseFilterError("The filter chain \"" + description + "\" cannot be set up", error);
    }
}

CVFilterChain CVFilterChain::ForVideo(const AVFrame* picture, AVRational timeBase,
                                      AVRational frameRate, const std::string& description,
                                      int threads) {
    AVRational aspect = picture->sample_aspect_ratio;
    if (aspect.num <= 0 || aspect.den <= 0) {
        aspect = AVRational{1, 1};
    }
    std::string arguments =
        "video_size=" + std::to_string(picture->width) + "x" + std::to_string(picture->height) +
        ":pix_fmt=" + std::to_string(picture->format) + ":time_base=" + Rational(timeBase) +
        ":pixel_aspect=" + Rational(aspect);
    if (frameRate.num > 0 && frameRate.den > 0) {
        arguments += ":frame_rate=" + Rational(frameRate);
    }
    CVFilterChain chain("buffer", arguments, "buffersink", description, threads);
    chain.m_width = picture->width;
    chain.m_height = picture->height;
    chain.m_format = picture->format;
    return chain;
}

CVFilterChain CVFilterChain::ForAudio(const AVFrame* sound, AVRational timeBase,
                                      const std::string& description) {
    const char* sampleFormat = av_get_sample_fmt_name(static_cast<AVSampleFormat>(sound->format));
    if (!sampleFormat || sound->sample_rate <= 0 || sound->ch_layout.nb_channels <= 0) {
        RaiseHelperError(EVTranscodeResult_InputUnreadable,
                         "The source's sound has no known sample format, rate or channels");
    }
    AVChannelLayout layout{};
    if (sound->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) {
        av_channel_layout_default(&layout, sound->ch_layout.nb_channels);
    } else {
        av_channel_layout_copy(&layout, &sound->ch_layout);
    }
    char layoutText[256] = {};
    av_channel_layout_describe(&layout, layoutText, sizeof layoutText);
    av_channel_layout_uninit(&layout);
    std::string arguments = "time_base=" + Rational(timeBase) +
                            ":sample_rate=" + std::to_string(sound->sample_rate) +
                            ":sample_fmt=" + sampleFormat + ":channel_layout=" + layoutText;
    // Sound filters do not divide their work between threads.
    CVFilterChain chain("abuffer", arguments, "abuffersink", description, 1);
    chain.m_format = sound->format;
    chain.m_sampleRate = sound->sample_rate;
    chain.m_channels = sound->ch_layout.nb_channels;
    return chain;
}

bool CVFilterChain::InputChanged(const AVFrame* frame) const {
    return frame->format != m_format || frame->width != m_width || frame->height != m_height ||
           frame->sample_rate != m_sampleRate || frame->ch_layout.nb_channels != m_channels;
}

void CVFilterChain::Push(AVFrame* frame) {
    // Without flags the source takes the frame's references and leaves it blank.
    int error = av_buffersrc_add_frame_flags(m_source, frame, 0);
    if (error < 0 && error != AVERROR_EOF) {
        RaiseFilterError("A frame cannot be filtered", error);
    }
}

void CVFilterChain::Close(int64_t endTimestamp) {
    int error = av_buffersrc_close(m_source, endTimestamp, AV_BUFFERSRC_FLAG_PUSH);
    if (error < 0) {
        RaiseFilterError("The end of the input cannot be filtered", error);
    }
}

bool CVFilterChain::Pull(AVFrame* frame) {
    int error = av_buffersink_get_frame(m_sink, frame);
    if (error == AVERROR(EAGAIN) || error == AVERROR_EOF) {
        return false;
    }
    if (error < 0) {
        RaiseFilterError("A frame cannot be taken from the filters", error);
    }
    return true;
}

void CVFilterChain::SetFrameSize(int samples) {
    av_buffersink_set_frame_size(m_sink, static_cast<unsigned>(samples));
}
