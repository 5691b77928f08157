#include "components/vtranscoderlib/helper/vtranscodepipeline.h"

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavutil/cpu.h>
#include <libavutil/pixdesc.h>
}

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <string_view>
#include <thread>

#include "components/vtranscoderlib/helper/vavlog.h"
#include "components/vtranscoderlib/helper/vconversionplan.h"
#include "components/vtranscoderlib/helper/vencoderfactory.h"
#include "components/vtranscoderlib/helper/vhandoffqueue.h"
#include "components/vtranscoderlib/helper/vtimestampmender.h"
#include "qlib/qsys/textcodec.h"

namespace {

// Queue bounds: about two seconds of compressed content between reading and decoding, a few
// pictures between filtering and encoding (enough for sound to keep up with pictures).
constexpr size_t k_queuedPackets = 64;
constexpr size_t k_queuedPacketBytes = 16 << 20;
constexpr size_t k_queuedFrames = 16;
constexpr size_t k_queuedFrameBytes = 64 << 20;

// How often Run's thread reports progress while only the stages are working.
constexpr auto k_progressPoll = std::chrono::milliseconds(100);

}  // namespace

struct CVTranscodePipeline::Lane {
    // Set up before the stages start; read-only afterwards.
    int inputIndex = -1;
    AVStream* input = nullptr;  // owned by the source's context; Run's thread only
    AVRational inputTimeBase{0, 1};
    bool isVideo = false;
    SVLanePlan plan;
    SVOrientation orientation;    // video: how the source's pictures are turned upright
    AVRational sourceRate{0, 1};  // video: the source's frame rate as far as it is known
    AVStream* output = nullptr;   // owned by the output context: under m_muxMutex
    int64_t startOffset = 0;      // the source's start, in the input stream's time base
    AVRational encoderTimeBase{0, 1};
    int encoderFrameSize = 0;  // sound: samples per encoder frame; 0 when any size goes

    // Between the stages.
    CVHandoffQueue<AVPacketPtr> packets{k_queuedPackets, k_queuedPacketBytes};
    CVHandoffQueue<AVFramePtr> frames{k_queuedFrames, k_queuedFrameBytes};
    std::atomic<bool> inputEnded{false};    // the decode stage needs no more packets
    std::atomic<int64_t> decodedFrames{0};  // written by the decode stage
    std::thread decoding;
    std::thread encoding;

    // The decode stage's.
    AVCodecContextPtr decoder;
    AVFramePtr picture;  // decoded while the source was opened: the first frame, when set
    std::optional<CVFilterChain> filter;
    AVFramePtr decoded = MakeFrame();
    AVFramePtr filtered = MakeFrame();
    int64_t nextTimestamp = AV_NOPTS_VALUE;
    int64_t lastDelivered = AV_NOPTS_VALUE;  // encoder timestamp of the last frame queued
    int64_t decodedMicroseconds = 0;         // the content decoded
    int64_t encodedMicroseconds = 0;         // the content queued for the encoder

    // The encode stage's.
    AVCodecContextPtr encoder;
    AVPacketPtr encoded = MakePacket();
    int64_t packetsWritten = 0;
};

namespace {

// Errors of the output file that mean it cannot be written, as opposed to a failing encoder.
bool IsStorageError(int error) {
    for (int code : {ENOSPC, EDQUOT, EIO, EACCES, EPERM, EROFS, EFBIG, ENOENT, ENOTDIR}) {
        if (error == AVERROR(code)) {
            return true;
        }
    }
    return false;
}

[[noreturn]] void RaiseOutputError(const std::string& what, int error) {
    RaiseAVError(IsStorageError(error) ? EVTranscodeResult_OutputUnwritable
                                       : EVTranscodeResult_ConversionFailed,
                 what, error);
}

const SVOutputFormat& FormatOf(int32_t code) {
    const SVOutputFormat* format = CVOutputFormats::Find(code);
    if (!format) {
        RaiseHelperError(
            EVTranscodeResult_UnsupportedSettings,
            "The output format " + std::to_string(code) + " is not one the transcoder knows");
    }
    return *format;
}

bool IsIsoMuxer(std::string_view muxer) {
    return muxer == "mp4" || muxer == "3gp" || muxer == "ipod";
}

// A frame without data that describes what the decoder gives, to build a filter chain for.
AVFramePtr DescribeDecoder(const AVCodecContext* decoder) {
    AVFramePtr frame = MakeFrame();
    if (decoder->codec_type == AVMEDIA_TYPE_VIDEO) {
        frame->width = decoder->width;
        frame->height = decoder->height;
        frame->format = decoder->pix_fmt;
        frame->sample_aspect_ratio = decoder->sample_aspect_ratio;
    } else {
        frame->format = decoder->sample_fmt;
        frame->sample_rate = decoder->sample_rate;
        av_channel_layout_copy(&frame->ch_layout, &decoder->ch_layout);
    }
    return frame;
}

// Microseconds of `count` units of `timeBase`, saturated instead of overflowing.
int64_t Microseconds(int64_t count, AVRational timeBase) {
    return av_rescale_q_rnd(count, timeBase, AV_TIME_BASE_Q,
                            static_cast<AVRounding>(AV_ROUND_NEAR_INF | AV_ROUND_PASS_MINMAX));
}

// A kept share of the source's content below which the output is no honest result.
constexpr double k_minimumCoverage = 0.5;
// Content shorter than this is not measured (rounding of a frame or two).
constexpr int64_t k_measuredContent = 2'000'000;

bool HasAlpha(int pixelFormat) {
    const AVPixFmtDescriptor* descriptor =
        av_pix_fmt_desc_get(static_cast<AVPixelFormat>(pixelFormat));
    return descriptor && (descriptor->flags & AV_PIX_FMT_FLAG_ALPHA);
}

// The frame the source decoded while it was opened comes first, then the decoder's.
int ReceiveFrame(AVCodecContext* decoder, AVFramePtr& pending, AVFrame* frame) {
    if (!pending) {
        return avcodec_receive_frame(decoder, frame);
    }
    av_frame_move_ref(frame, pending.get());
    pending.reset();
    return 0;
}

}  // namespace

CVTranscodePipeline::CVTranscodePipeline(const SVHelperRequest& request, CVSourceFile source,
                                         SVPipelineObserver observer)
    : m_request(request),
      m_format(FormatOf(request.outputFormat)),
      m_settings(CVOutputFormats::Effective(m_format, request.settings)),
      m_observer(std::move(observer)),
      m_input(std::move(source)) {
    if (auto problem = FindSettingsProblem(request.settings)) {
        RaiseHelperError(EVTranscodeResult_UnsupportedSettings, qsys::ToUtf8(*problem));
    }
}

// Run joins its stages on every path.
CVTranscodePipeline::~CVTranscodePipeline() = default;

std::vector<SVLanePlan> CVTranscodePipeline::Plan() {
    if (m_lanes.empty()) {
        SetUpLanes();
    }
    std::vector<SVLanePlan> plans;
    for (const auto& lane : m_lanes) {
        plans.push_back(lane->plan);
    }
    return plans;
}

void CVTranscodePipeline::Run(int outputFd) {
    if (m_lanes.empty()) {
        SetUpLanes();
    }
    OpenOutput(outputFd);
    try {
        StartStages();
        ReadSource();
        for (auto& lane : m_lanes) {
            lane->packets.Close();
        }
        WaitForStages();
    } catch (...) {
        Fail(std::current_exception());
    }
    JoinStages();
    if (m_failure) {
        std::rethrow_exception(m_failure);
    }
    for (auto& lane : m_lanes) {
        CheckCoverage(*lane);
    }
    FinishOutput();
}

void CVTranscodePipeline::StartStages() {
    for (auto& lane : m_lanes) {
        for (auto [thread, stage] :
             {std::pair{&lane->decoding, &CVTranscodePipeline::DecodeStage},
              std::pair{&lane->encoding, &CVTranscodePipeline::EncodeStage}}) {
            {
                std::lock_guard lock(m_mutex);
                ++m_runningStages;
            }
            try {
                *thread = std::thread(&CVTranscodePipeline::RunStage, this, std::ref(*lane), stage);
            } catch (...) {
                std::lock_guard lock(m_mutex);
                --m_runningStages;
                throw;
            }
        }
    }
}

void CVTranscodePipeline::RunStage(Lane& lane, LaneStage stage) {
    try {
        (this->*stage)(lane);
    } catch (...) {
        Fail(std::current_exception());
    }
    std::lock_guard lock(m_mutex);
    --m_runningStages;
    m_stageEnded.notify_all();
}

void CVTranscodePipeline::WaitForStages() {
    std::unique_lock lock(m_mutex);
    while (m_runningStages > 0) {
        m_stageEnded.wait_for(lock, k_progressPoll);
        lock.unlock();
        ReportProgress();
        lock.lock();
    }
}

void CVTranscodePipeline::Fail(std::exception_ptr failure) {
    {
        std::lock_guard lock(m_mutex);
        if (!m_failure) {
            m_failure = std::move(failure);
        }
    }
    m_stopped = true;
    for (auto& lane : m_lanes) {
        lane->packets.Cancel();
        lane->frames.Cancel();
    }
}

void CVTranscodePipeline::JoinStages() {
    for (auto& lane : m_lanes) {
        for (std::thread* thread : {&lane->decoding, &lane->encoding}) {
            if (thread->joinable()) {
                thread->join();
            }
        }
    }
}

void CVTranscodePipeline::CheckCoverage(const Lane& lane) const {
    const char* what = lane.isVideo ? "picture" : "sound";
    if (lane.decodedFrames == 0) {
        RaiseHelperError(
            EVTranscodeResult_InputUnreadable,
            std::string("Not one frame of the source's ") + what + " could be decoded");
    }
    if (lane.packetsWritten == 0) {
        RaiseHelperError(
            EVTranscodeResult_ConversionFailed,
            std::string("The conversion of the source's ") + what + " gave nothing to write");
    }
    if (m_format.kind != EVMediaKind_Image && lane.decodedMicroseconds >= k_measuredContent &&
        static_cast<double>(lane.encodedMicroseconds) <
            k_minimumCoverage * static_cast<double>(lane.decodedMicroseconds)) {
        RaiseHelperError(EVTranscodeResult_ConversionFailed,
                         std::string("The output's ") + what + " covers only " +
                             std::to_string(lane.encodedMicroseconds / 1'000'000) + " s of the " +
                             std::to_string(lane.decodedMicroseconds / 1'000'000) +
                             " s the source holds");
    }
}

void CVTranscodePipeline::SetUpLanes() {
    if (m_format.kind != EVMediaKind_Audio) {
        int video = m_input.VideoStream(m_format.kind == EVMediaKind_Image);
        if (video < 0 && m_input.HasUndecodable(AVMEDIA_TYPE_VIDEO)) {
            RaiseHelperError(EVTranscodeResult_InputUnreadable,
                             "The picture of the source " + m_input.Path() + " cannot be decoded");
        }
        if (video < 0) {
            RaiseHelperError(
                EVTranscodeResult_UnsupportedSettings,
                "The source has no picture to convert to " + qsys::ToUtf8(m_format.description));
        }
        AddLane(video);
    }
    if (m_format.kind == EVMediaKind_Image) {
        return;
    }
    std::vector<int> audio = m_input.AudioStreams();
    if (m_format.kind == EVMediaKind_Audio && audio.empty() &&
        m_input.HasUndecodable(AVMEDIA_TYPE_AUDIO)) {
        RaiseHelperError(EVTranscodeResult_InputUnreadable,
                         "The sound of the source " + m_input.Path() + " cannot be decoded");
    }
    if (m_format.kind == EVMediaKind_Audio && audio.empty()) {
        RaiseHelperError(
            EVTranscodeResult_UnsupportedSettings,
            "The source has no sound to convert to " + qsys::ToUtf8(m_format.description));
    }
    audio.resize(std::min<size_t>(audio.size(), m_settings.audioStreams));
    for (int index : audio) {
        AddLane(index);
    }
}

void CVTranscodePipeline::AddLane(int streamIndex) {
    auto lane = std::make_unique<Lane>();
    lane->inputIndex = streamIndex;
    lane->input = m_input.Context()->streams[streamIndex];
    lane->inputTimeBase = lane->input->time_base;
    lane->isVideo = lane->input->codecpar->codec_type == AVMEDIA_TYPE_VIDEO;
    lane->decoder = m_input.OpenDecoder(streamIndex, DecoderThreads(lane->isVideo));
    lane->picture = m_input.TakePicture(streamIndex);
    lane->plan.inputIndex = streamIndex;
    lane->plan.isVideo = lane->isVideo;
    if (lane->isVideo) {
        lane->sourceRate = av_guess_frame_rate(m_input.Context(), lane->input, nullptr);
        lane->orientation = m_input.Orientation(streamIndex);
        SVSourceVideo source{lane->decoder->width,
                             lane->decoder->height,
                             av_guess_sample_aspect_ratio(m_input.Context(), lane->input, nullptr),
                             lane->sourceRate,
                             HasAlpha(lane->decoder->pix_fmt),
                             lane->orientation};
        lane->plan.video = CVConversionPlan::PlanVideo(m_format, m_settings, source);
    } else {
        SVSourceAudio source{lane->decoder->ch_layout.nb_channels, lane->decoder->sample_rate};
        lane->plan.audio = CVConversionPlan::PlanAudio(m_format, m_settings, source);
    }
    int64_t start = m_input.Context()->start_time;
    if (start != AV_NOPTS_VALUE) {
        lane->startOffset = av_rescale_q(start, AV_TIME_BASE_Q, lane->input->time_base);
    }
    m_lanes.push_back(std::move(lane));
}

int CVTranscodePipeline::DecoderThreads(bool isVideo) const {
    // One per core the helper may run on (not the library's default of one more: the other
    // stages keep the cores busy as well). A video encoder that runs frame-parallel threads
    // of its own (libx264) fills every core by itself; its decoder then gets half of them, as
    // decoding on more threads only adds the cost of dividing the work.
    int cores = av_cpu_count();
    const AVCodec* encoder = isVideo && m_format.videoEncoder
                                 ? avcodec_find_encoder_by_name(m_format.videoEncoder)
                                 : nullptr;
    if (encoder && (encoder->capabilities & AV_CODEC_CAP_OTHER_THREADS)) {
        return std::max(1, cores / 2);
    }
    return cores;
}

void CVTranscodePipeline::OpenOutput(int outputFd) {
    m_outputFd = outputFd;
    m_outputName = "output" + qsys::ToUtf8(m_format.extension);
    AVFormatContext* context = nullptr;
    int error =
        avformat_alloc_output_context2(&context, nullptr, m_format.muxer, m_outputName.c_str());
    if (error < 0) {
        RaiseAVError(EVTranscodeResult_ConversionFailed,
                     std::string("The ") + m_format.muxer + " writer cannot be made", error);
    }
    m_output.reset(context);
    m_output->interrupt_callback = {&CVTranscodePipeline::OnInterrupt, this};
    m_output->opaque = this;
    m_output->io_open = &CVTranscodePipeline::OnOpen;
    m_output->io_close2 = &CVTranscodePipeline::OnClose;
    av_dict_copy(&m_output->metadata, m_input.Context()->metadata, 0);
    bool globalHeader = (m_output->oformat->flags & AVFMT_GLOBALHEADER) != 0;

    for (auto& lane : m_lanes) {
        AVStream* input = lane->input;
        AVFramePtr decoded = DescribeDecoder(lane->decoder.get());
        if (lane->isVideo) {
            lane->filter =
                CVFilterChain::ForVideo(decoded.get(), input->time_base, lane->sourceRate,
                                        lane->plan.video.filter, ScalingThreads());
            lane->encoder = CVEncoderFactory::OpenVideo(m_format, lane->plan.video,
                                                        lane->filter->Sink(), globalHeader);
        } else {
            lane->filter =
                CVFilterChain::ForAudio(decoded.get(), input->time_base, lane->plan.audio.filter);
            lane->encoder = CVEncoderFactory::OpenAudio(m_format, lane->plan.audio,
                                                        lane->filter->Sink(), globalHeader);
            if (!(lane->encoder->codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE)) {
                lane->encoderFrameSize = lane->encoder->frame_size;
                lane->filter->SetFrameSize(lane->encoderFrameSize);
            }
        }
        lane->encoderTimeBase = lane->encoder->time_base;
        lane->output = avformat_new_stream(m_output.get(), nullptr);
        if (!lane->output) {
            throw std::bad_alloc();
        }
        error = avcodec_parameters_from_context(lane->output->codecpar, lane->encoder.get());
        if (error < 0) {
            RaiseAVError(EVTranscodeResult_ConversionFailed, "The stream cannot be described",
                         error);
        }
        lane->output->time_base = lane->encoder->time_base;
        if (const AVDictionaryEntry* language =
                av_dict_get(input->metadata, "language", nullptr, 0)) {
            av_dict_set(&lane->output->metadata, "language", language->value, 0);
        }
    }

    if (!(m_output->oformat->flags & AVFMT_NOFILE)) {
        m_writer.reset(CVFileIO::Open(m_outputFd, CVFileIO::EVAccess_Write));
        m_output->pb = m_writer.get();
        m_output->flags |= AVFMT_FLAG_CUSTOM_IO;
    }
    CVAVDictionary options;
    if (IsIsoMuxer(m_format.muxer)) {
        options.Set("movflags", "+faststart");
    }
    if (std::string_view(m_format.muxer) == "image2") {
        options.Set("update", "1");
    }
    error = avformat_write_header(m_output.get(), options.Address());
    if (error < 0) {
        RaiseOutputError("The output's header cannot be written", error);
    }
}

void CVTranscodePipeline::ReadSource() {
    AVPacketPtr packet = MakePacket();
    AVFormatContext* input = m_input.Context();
    CVTimestampMender mender((input->iformat->flags & AVFMT_TS_DISCONT) != 0, input->nb_streams);
    while (!m_stopped && !AllInputsEnded()) {
        int error = av_read_frame(m_input.Context(), packet.get());
        if (error == AVERROR_EOF || error == AVERROR_INVALIDDATA) {
            break;
        }
        if (error < 0) {
            RaiseAVError(EVTranscodeResult_InputUnreadable,
                         "The source " + m_request.source + " cannot be read to its end", error);
        }
        auto lane = std::find_if(m_lanes.begin(), m_lanes.end(), [&](const auto& candidate) {
            return candidate->inputIndex == packet->stream_index;
        });
        if (lane != m_lanes.end() && !(*lane)->inputEnded) {
            if (av_packet_get_side_data(packet.get(), AV_PKT_DATA_ENCRYPTION_INFO, nullptr)) {
                RaiseHelperError(EVTranscodeResult_InputUnreadable,
                                 "The source " + m_request.source +
                                     " is protected content and cannot be converted");
            }
            mender.Mend(packet.get(), (*lane)->input->time_base);
            AVPacketPtr queued = MakePacket();
            av_packet_move_ref(queued.get(), packet.get());
            size_t bytes = static_cast<size_t>(queued->size);
            // Refused when the lane needs no more input or the stages stopped.
            (*lane)->packets.Push(std::move(queued), bytes);
        }
        av_packet_unref(packet.get());
        ReportProgress();
    }
}

bool CVTranscodePipeline::AllInputsEnded() const {
    return std::all_of(m_lanes.begin(), m_lanes.end(),
                       [](const auto& lane) { return lane->inputEnded.load(); });
}

void CVTranscodePipeline::DecodeStage(Lane& lane) {
    if (lane.picture) {
        ReceiveFrames(lane);
    }
    AVPacketPtr packet;
    while (!lane.inputEnded && lane.packets.Pop(packet)) {
        Decode(lane, packet.get());
        packet.reset();
    }
    // A picture lane that has its frame takes no more packets.
    lane.packets.Cancel();
    if (m_stopped) {
        return;
    }
    EndInput(lane);
    lane.frames.Close();
}

void CVTranscodePipeline::Decode(Lane& lane, const AVPacket* packet) {
    int error = avcodec_send_packet(lane.decoder.get(), packet);
    if (error == AVERROR(EAGAIN)) {
        ReceiveFrames(lane);
        error = avcodec_send_packet(lane.decoder.get(), packet);
    }
    // A packet that does not decode is skipped; the next keyframe recovers.
    if (error == AVERROR(ENOMEM)) {
        throw std::bad_alloc();
    }
    ReceiveFrames(lane);
}

void CVTranscodePipeline::ReceiveFrames(Lane& lane) {
    AVFrame* decoded = lane.decoded.get();
    while (!lane.inputEnded) {
        int error = ReceiveFrame(lane.decoder.get(), lane.picture, decoded);
        if (error < 0) {
            return;  // EAGAIN: needs input; EOF: drained; others: a broken frame, skipped
        }
        ++lane.decodedFrames;
        if (!StampFrame(lane, decoded)) {
            av_frame_unref(decoded);
            continue;
        }
        if (lane.filter->InputChanged(decoded)) {
            RebuildFilter(lane, decoded);
        }
        lane.filter->Push(decoded);
        if (m_format.kind == EVMediaKind_Image) {
            lane.filter->Close(EndTimestamp(lane));
            lane.inputEnded = true;
        }
        Drain(lane);
    }
}

bool CVTranscodePipeline::StampFrame(Lane& lane, AVFrame* frame) {
    int64_t timestamp = frame->best_effort_timestamp;
    if (timestamp == AV_NOPTS_VALUE) {
        timestamp = lane.nextTimestamp != AV_NOPTS_VALUE ? lane.nextTimestamp : lane.startOffset;
    }
    AVRational timeBase = lane.inputTimeBase;
    int64_t duration = frame->pkt_duration;
    if (!lane.isVideo && frame->sample_rate > 0) {
        duration = av_rescale_q(frame->nb_samples, AVRational{1, frame->sample_rate}, timeBase);
    } else if (duration <= 0 && lane.sourceRate.num > 0 && lane.sourceRate.den > 0) {
        duration = av_rescale_q(1, av_inv_q(lane.sourceRate), timeBase);
    }
    duration = std::max<int64_t>(duration, 1);
    int64_t next = 0;
    int64_t relative = 0;
    // Timestamps come from the source: a frame whose arithmetic overflows is dropped.
    if (__builtin_add_overflow(timestamp, duration, &next) ||
        __builtin_sub_overflow(timestamp, lane.startOffset, &relative)) {
        return false;
    }
    lane.nextTimestamp = next;
    frame->pts = relative;
    lane.decodedMicroseconds += Microseconds(duration, timeBase);
    int64_t position = Microseconds(frame->pts, timeBase);
    int64_t furthest = m_position.load();
    while (position > furthest && !m_position.compare_exchange_weak(furthest, position)) {
    }
    return true;
}

void CVTranscodePipeline::RebuildFilter(Lane& lane, AVFrame* frame) {
    // Pictures: what the old chain holds up to this frame still goes out. Sound: the old
    // chain's partial encoder frame is dropped (a short frame may only end a stream).
    if (lane.isVideo) {
        lane.filter->Close(frame->pts);
    }
    Drain(lane);
    AVRational timeBase = lane.inputTimeBase;
    if (lane.isVideo) {
        SVSourceVideo source{frame->width,    frame->height,           frame->sample_aspect_ratio,
                             lane.sourceRate, HasAlpha(frame->format), lane.orientation};
        lane.filter = CVFilterChain::ForVideo(frame, timeBase, lane.sourceRate,
                                              CVConversionPlan::RefitVideo(lane.plan.video, source),
                                              ScalingThreads());
        return;
    }
    lane.filter = CVFilterChain::ForAudio(frame, timeBase, lane.plan.audio.filter);
    if (lane.encoderFrameSize > 0) {
        lane.filter->SetFrameSize(lane.encoderFrameSize);
    }
}

int CVTranscodePipeline::ScalingThreads() const {
    // Moving pictures scale on the decode stage's thread while the encode stage and the other
    // lanes keep the other cores busy; one picture has nothing to overlap with, so its scaling
    // takes every core.
    return m_format.kind == EVMediaKind_Image ? 0 : 1;
}

int64_t CVTranscodePipeline::EndTimestamp(const Lane& lane) {
    return lane.nextTimestamp == AV_NOPTS_VALUE ? 0 : lane.nextTimestamp - lane.startOffset;
}

void CVTranscodePipeline::EndInput(Lane& lane) {
    if (!lane.inputEnded) {
        avcodec_send_packet(lane.decoder.get(), nullptr);
        ReceiveFrames(lane);
    }
    if (!lane.inputEnded) {
        lane.filter->Close(EndTimestamp(lane));
        lane.inputEnded = true;
    }
    Drain(lane);
}

void CVTranscodePipeline::Drain(Lane& lane) {
    while (lane.filter->Pull(lane.filtered.get())) {
        Deliver(lane, lane.filtered.get());
        av_frame_unref(lane.filtered.get());
    }
}

void CVTranscodePipeline::Deliver(Lane& lane, AVFrame* frame) {
    frame->pts = av_rescale_q(frame->pts, av_buffersink_get_time_base(lane.filter->Sink()),
                              lane.encoderTimeBase);
    // Overlapping content (a restart, a rebuilt chain) never goes back in time.
    if (lane.lastDelivered != AV_NOPTS_VALUE && frame->pts <= lane.lastDelivered) {
        return;
    }
    lane.lastDelivered = frame->pts;
    lane.encodedMicroseconds += lane.isVideo
                                    ? Microseconds(1, lane.encoderTimeBase)
                                    : Microseconds(frame->nb_samples, lane.encoderTimeBase);
    AVFramePtr queued = MakeFrame();
    av_frame_move_ref(queued.get(), frame);
    size_t bytes = 0;
    for (const AVBufferRef* buffer : queued->buf) {
        bytes += buffer ? buffer->size : 0;
    }
    // Refused only when the stages stopped.
    lane.frames.Push(std::move(queued), bytes);
}

void CVTranscodePipeline::EncodeStage(Lane& lane) {
    AVFramePtr frame;
    while (lane.frames.Pop(frame)) {
        Encode(lane, frame.get());
        frame.reset();
    }
    if (!m_stopped) {
        Encode(lane, nullptr);
    }
}

void CVTranscodePipeline::Encode(Lane& lane, AVFrame* frame) {
    AVCodecContext* encoder = lane.encoder.get();
    if (frame) {
        frame->pict_type = AV_PICTURE_TYPE_NONE;
        if (encoder->flags & AV_CODEC_FLAG_QSCALE) {
            frame->quality = encoder->global_quality;
        }
    }
    int error = avcodec_send_frame(encoder, frame);
    if (error < 0 && error != AVERROR_EOF) {
        RaiseAVError(EVTranscodeResult_ConversionFailed,
                     std::string("The ") + encoder->codec->name + " encoder failed", error);
    }
    while ((error = avcodec_receive_packet(encoder, lane.encoded.get())) == 0) {
        WritePacket(lane, lane.encoded.get());
    }
    if (error != AVERROR(EAGAIN) && error != AVERROR_EOF) {
        RaiseAVError(EVTranscodeResult_ConversionFailed,
                     std::string("The ") + encoder->codec->name + " encoder failed", error);
    }
}

void CVTranscodePipeline::WritePacket(Lane& lane, AVPacket* packet) {
    ++lane.packetsWritten;
    // Without a duration the muxer guesses the last frame's, and the frame rate drifts.
    if (packet->duration == 0 && lane.isVideo) {
        packet->duration = 1;
    }
    std::lock_guard lock(m_muxMutex);
    packet->stream_index = lane.output->index;
    av_packet_rescale_ts(packet, lane.encoderTimeBase, lane.output->time_base);
    int error = av_interleaved_write_frame(m_output.get(), packet);
    if (error < 0) {
        RaiseOutputError("The output cannot be written", error);
    }
}

void CVTranscodePipeline::FinishOutput() {
    m_finishing = true;
    int error = av_write_trailer(m_output.get());
    if (error < 0) {
        RaiseOutputError("The output cannot be finished", error);
    }
    if (m_writer) {
        avio_flush(m_writer.get());
        if (m_writer->error < 0) {
            RaiseOutputError("The output cannot be completed", m_writer->error);
        }
    }
    if (m_outputError < 0) {
        RaiseOutputError("The output cannot be completed", m_outputError);
    }
}

void CVTranscodePipeline::ReportProgress() {
    if (!m_observer.progress) {
        return;
    }
    const Lane& main = *m_lanes.front();
    m_observer.progress(m_position.load(), m_input.DurationMicroseconds(),
                        main.decodedFrames.load());
}

int CVTranscodePipeline::OnOpen(AVFormatContext* context, AVIOContext** io, const char* url,
                                int flags, AVDictionary**) {
    auto* pipeline = static_cast<CVTranscodePipeline*>(context->opaque);
    if (pipeline->m_outputName != url) {
        return AVERROR(EPERM);
    }
    bool writing = (flags & AVIO_FLAG_WRITE) != 0;
    // A picture writer opens the file once per picture, each time from its start.
    if (writing && ftruncate(pipeline->m_outputFd, 0) != 0) {
        return AVERROR(errno);
    }
    *io = CVFileIO::Open(pipeline->m_outputFd,
                         writing ? CVFileIO::EVAccess_Write : CVFileIO::EVAccess_Read);
    return 0;
}

int CVTranscodePipeline::OnClose(AVFormatContext* context, AVIOContext* io) {
    auto* pipeline = static_cast<CVTranscodePipeline*>(context->opaque);
    if (io->write_flag) {
        avio_flush(io);
    }
    int error = io->error;
    if (error < 0 && pipeline->m_outputError == 0) {
        pipeline->m_outputError = error;
    }
    CVFileIO::Close(io);
    return error;
}

int CVTranscodePipeline::OnInterrupt(void* opaque) {
    auto* pipeline = static_cast<CVTranscodePipeline*>(opaque);
    if (pipeline->m_finishing && pipeline->m_observer.alive) {
        AVIOContext* io = pipeline->m_output->pb;
        pipeline->m_observer.alive(io ? avio_tell(io) : 0);
    }
    return 0;
}
