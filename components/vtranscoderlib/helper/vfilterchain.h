#pragma once
// CVFilterChain: a libavfilter graph with one source fed with decoded frames and one sink that
// gives frames ready for an encoder (scaled, padded, frame-rate capped, converted, resampled
// and cut to the encoder's frame size). The chain's text comes from CVConversionPlan.
//
// Owned by one pipeline lane; used by one thread. A picture chain may run worker threads of
// its own inside the graph (as many as it is given); a sound chain runs on its user's thread.

#include <string>

#include "components/vtranscoderlib/helper/vavpointers.h"

class CVFilterChain {
public:
    // A chain for pictures like `picture` (size, pixel format, aspect) with timestamps in
    // `timeBase`, with `threads` threads of its own for scaling (0: one per core; 1: none, it
    // runs on its user's thread). Raises CVTranscodeError (ConversionFailed) when the graph
    // cannot be built.
    static CVFilterChain ForVideo(const AVFrame* picture, AVRational timeBase, AVRational frameRate,
                                  const std::string& description, int threads);
    // A chain for sound like `sound` (rate, sample format, layout) with timestamps in
    // `timeBase`.
    static CVFilterChain ForAudio(const AVFrame* sound, AVRational timeBase,
                                  const std::string& description);
    // True when a frame differs from the chain's input in what the chain was built for.
    bool InputChanged(const AVFrame* frame) const;

    CVFilterChain(CVFilterChain&&) = default;
    CVFilterChain& operator=(CVFilterChain&&) = default;

    // Feeds one frame, taking its data.
    void Push(AVFrame* frame);
    // Ends the input at `endTimestamp` (in the source's time base): the end of the last frame,
    // so that frame-rate conversion keeps the last frame for its whole duration.
    void Close(int64_t endTimestamp);
    // Takes the next filtered frame into `frame`; false when none is ready now or any more.
    bool Pull(AVFrame* frame);

    // Makes the sink give audio frames of exactly this many samples (the last may be short).
    void SetFrameSize(int samples);

    AVFilterContext* Sink() const { return m_sink; }

private:
    CVFilterChain(const char* sourceFilter, const std::string& sourceArguments,
                  const char* sinkFilter, const std::string& description, int threads);

    AVFilterGraphPtr m_graph;
    int m_width = 0;  // of the input: pictures
    int m_height = 0;
    int m_format = -1;     // pixel or sample format
    int m_sampleRate = 0;  // of the input: sound
    int m_channels = 0;
    AVFilterContext* m_source = nullptr;  // owned by m_graph
    AVFilterContext* m_sink = nullptr;    // owned by m_graph
};
