#pragma once
// CVTimestampMender: puts the packet timestamps of one source on one continuous timeline
// before they are decoded, as the ffmpeg tool does, so that the output covers the whole
// content:
//   - in formats whose timestamps may restart (MPEG-TS and the like: concatenated recordings),
//     a jump of more than 10 s either way from where a stream should continue, or a step back
//     of more than 0.1 s, shifts the timeline of the whole file back into line;
//   - in other formats only a jump of more than a minute is closed, so that a gap in the
//     timestamps never turns a few seconds of content into an hour of repeated frames.
// All arithmetic on the source's timestamps is checked: a value that would overflow is
// dropped (treated as missing) instead of wrapping.
//
// One per source, used by the pipeline's thread.

extern "C" {
#include <libavcodec/packet.h>
#include <libavutil/rational.h>
}

#include <cstdint>
#include <vector>

class CVTimestampMender {
public:
    static constexpr int64_t k_restartThreshold = 10'000'000;  // microseconds
    static constexpr int64_t k_overlapThreshold = 100'000;
    static constexpr int64_t k_gapThreshold = 60'000'000;

    // `restarts`: the format's timestamps may restart (AVFMT_TS_DISCONT).
    CVTimestampMender(bool restarts, size_t streams);

    // Shifts the packet's timestamps (in `timeBase`) onto the continuous timeline.
    void Mend(AVPacket* packet, AVRational timeBase);

    // The current shift in microseconds (what was added to the source's timestamps).
    int64_t Offset() const { return m_offset; }

private:
    struct SVStreamState {
        int64_t last = INT64_MIN;  // microseconds, on the mended timeline
        int64_t next = INT64_MIN;  // where the stream should continue
    };

    bool IsDiscontinuity(const SVStreamState& state, int64_t time) const;
    static bool Shift(int64_t& timestamp, int64_t offset, AVRational timeBase);

    const bool m_restarts;
    std::vector<SVStreamState> m_streams;
    int64_t m_offset = 0;
};
