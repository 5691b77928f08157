#pragma once
// Owning pointers for the FFmpeg objects the helper uses, so that every context is released on
// every path, including the error paths that raise CVTranscodeError. Each deleter is the
// matching FFmpeg free function; all accept null.
//
// The I/O contexts of input and output are the pipeline's own (CVFileIO), not the format
// contexts': the deleters leave them alone.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/frame.h>
}

#include <memory>
#include <new>

struct SVInputContextDeleter {
    void operator()(AVFormatContext* context) const noexcept { avformat_close_input(&context); }
};
using AVInputContextPtr = std::unique_ptr<AVFormatContext, SVInputContextDeleter>;

struct SVOutputContextDeleter {
    void operator()(AVFormatContext* context) const noexcept { avformat_free_context(context); }
};
using AVOutputContextPtr = std::unique_ptr<AVFormatContext, SVOutputContextDeleter>;

struct SVCodecContextDeleter {
    void operator()(AVCodecContext* context) const noexcept { avcodec_free_context(&context); }
};
using AVCodecContextPtr = std::unique_ptr<AVCodecContext, SVCodecContextDeleter>;

struct SVFrameDeleter {
    void operator()(AVFrame* frame) const noexcept { av_frame_free(&frame); }
};
using AVFramePtr = std::unique_ptr<AVFrame, SVFrameDeleter>;

struct SVPacketDeleter {
    void operator()(AVPacket* packet) const noexcept { av_packet_free(&packet); }
};
using AVPacketPtr = std::unique_ptr<AVPacket, SVPacketDeleter>;

struct SVFilterGraphDeleter {
    void operator()(AVFilterGraph* graph) const noexcept { avfilter_graph_free(&graph); }
};
using AVFilterGraphPtr = std::unique_ptr<AVFilterGraph, SVFilterGraphDeleter>;

struct SVFilterInOutDeleter {
    void operator()(AVFilterInOut* list) const noexcept { avfilter_inout_free(&list); }
};
using AVFilterInOutPtr = std::unique_ptr<AVFilterInOut, SVFilterInOutDeleter>;

// An AVDictionary* that frees itself; pass Address() to the functions that fill or consume it.
class CVAVDictionary {
public:
    CVAVDictionary() = default;
    ~CVAVDictionary() { av_dict_free(&m_dictionary); }
    CVAVDictionary(const CVAVDictionary&) = delete;
    CVAVDictionary& operator=(const CVAVDictionary&) = delete;

    void Set(const char* key, const char* value) { av_dict_set(&m_dictionary, key, value, 0); }
    AVDictionary** Address() { return &m_dictionary; }

private:
    AVDictionary* m_dictionary = nullptr;
};

// A new frame or packet; raises std::bad_alloc when FFmpeg has no memory for it.
inline AVFramePtr MakeFrame() {
    AVFramePtr frame(av_frame_alloc());
    if (!frame) {
        throw std::bad_alloc();
    }
    return frame;
}

inline AVPacketPtr MakePacket() {
    AVPacketPtr packet(av_packet_alloc());
    if (!packet) {
        throw std::bad_alloc();
    }
    return packet;
}
