#include "components/vtranscoderlib/helper/vtimestampmender.h"

extern "C" {
#include <libavutil/avutil.h>
#include <libavutil/mathematics.h>
}

#include <algorithm>
#include <cstdlib>

namespace {

constexpr AVRational k_microseconds{1, 1'000'000};

// The time in microseconds, or INT64_MIN when it cannot be expressed.
int64_t Microseconds(int64_t timestamp, AVRational timeBase) {
    if (timestamp == AV_NOPTS_VALUE) {
        return INT64_MIN;
    }
    return av_rescale_q_rnd(timestamp, timeBase, k_microseconds,
                            static_cast<AVRounding>(AV_ROUND_NEAR_INF | AV_ROUND_PASS_MINMAX));
}

bool Overflows(int64_t a, int64_t b) {
    int64_t sum = 0;
    return __builtin_add_overflow(a, b, &sum) || sum == INT64_MIN || sum == INT64_MAX;
}

}  // namespace

CVTimestampMender::CVTimestampMender(bool restarts, size_t streams)
    : m_restarts(restarts), m_streams(streams) {}

bool CVTimestampMender::IsDiscontinuity(const SVStreamState& state, int64_t time) const {
    if (state.next == INT64_MIN || Overflows(time, -state.next)) {
        return false;
    }
    int64_t delta = time - state.next;
    if (!m_restarts) {
        return std::llabs(delta) > k_gapThreshold;
    }
    return std::llabs(delta) > k_restartThreshold ||
           (state.last != INT64_MIN && time + k_overlapThreshold < state.last);
}

bool CVTimestampMender::Shift(int64_t& timestamp, int64_t offset, AVRational timeBase) {
    if (timestamp == AV_NOPTS_VALUE) {
        return true;
    }
    int64_t shift = av_rescale_q(offset, k_microseconds, timeBase);
    if (Overflows(timestamp, shift)) {
        timestamp = AV_NOPTS_VALUE;
        return false;
    }
    timestamp += shift;
    return true;
}

void CVTimestampMender::Mend(AVPacket* packet, AVRational timeBase) {
    if (packet->stream_index < 0 || static_cast<size_t>(packet->stream_index) >= m_streams.size()) {
        return;
    }
    SVStreamState& state = m_streams[static_cast<size_t>(packet->stream_index)];
    if (!Shift(packet->dts, m_offset, timeBase) || !Shift(packet->pts, m_offset, timeBase)) {
        packet->pts = packet->dts = AV_NOPTS_VALUE;
        return;
    }
    int64_t time =
        Microseconds(packet->dts != AV_NOPTS_VALUE ? packet->dts : packet->pts, timeBase);
    if (time == INT64_MIN || time == INT64_MAX) {
        return;
    }
    if (IsDiscontinuity(state, time)) {
        int64_t delta = time - state.next;
        if (!Overflows(m_offset, -delta) && Shift(packet->dts, -delta, timeBase) &&
            Shift(packet->pts, -delta, timeBase)) {
            m_offset -= delta;
            time -= delta;
        }
    }
    int64_t duration = std::max<int64_t>(Microseconds(packet->duration, timeBase), 0);
    state.last = time;
    state.next = Overflows(time, duration) ? INT64_MIN : time + duration;
}
