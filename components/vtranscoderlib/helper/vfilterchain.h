#pragma once
// CVFilterChain: a libavfilter graph with one source fed with decoded frames and one sink that
// gives frames ready for an encoder (scaled, padded, frame-rate capped, converted, resampled
// and cut to the encoder's frame size). The chain's text comes from CVConversionPlan.
//
// Owned by one pipeline lane; used by one thread. libavfilter may run its own worker threads
// inside the graph.

#include <string>

#include "components/vtranscoderlib/helper/vavpointers.h"

class CVFilterChain {
public:
    // A chain for pictures decoded by `decoder` with timestamps in `timeBase`. Raises
    // CVTranscodeError (ConversionFailed) when the graph cannot be built.
    static CVFilterChain ForVideo(const AVCodecContext* decoder, AVRational timeBase,
                                  AVRational frameRate, const std::string& description);
    // A chain for sound decoded by `decoder` with timestamps in `timeBase`.
    static CVFilterChain ForAudio(const AVCodecContext* decoder, AVRational timeBase,
                                  const std::string& description);

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
                  const char* sinkFilter, const std::string& description);

    AVFilterGraphPtr m_graph;
    AVFilterContext* m_source = nullptr;  // owned by m_graph
    AVFilterContext* m_sink = nullptr;    // owned by m_graph
};
