#pragma once
// CVTranscodePipeline: one conversion inside the helper process: demux the source, decode the
// streams the output keeps, filter them (CVFilterChain, as CVConversionPlan decides), encode
// them (CVEncoderFactory) and mux them into the output file. One lane per kept stream:
//
//     packet -> decoder -> filter chain -> encoder -> muxer
//
// The stages run on their own threads, so that reading, decoding and filtering, and encoding
// overlap on a machine with several cores:
//
//     Run's thread: read and mend packets --(packets)--> per lane: decode + filter
//         --(frames)--> per lane: encode + mux
//
// The queues between them (CVHandoffQueue) are bounded and hand packets and frames over by
// reference. Lanes depend on each other only at the muxer, which never waits for a lane (it
// buffers to interleave by time), so no stage waits on a queue that cannot move. The first
// failure of any stage (or of the observer) is kept, every queue is cancelled, every thread is
// joined, and Run raises that failure; a stage that sees the cancellation ends quietly.
//
// Pictures take the first decodable frame. Packets that fail to decode are skipped as the
// ffmpeg tool does; a stream of which not one frame decodes makes the source unreadable.
// Timestamps are put on one continuous timeline first (CVTimestampMender), a size or format
// change in mid-stream rebuilds the lane's filters (fitted into the same frame, so the aspect
// ratio stays), and a result holding less than half of what was decoded is a failure.
// Data that stops making sense part-way ends the input there (what was decoded is kept); an
// I/O error while reading fails the conversion. Protected (encrypted) content is refused.
//
// The observer is called on Run's thread only: about progress (decoded position, frames
// decoded) after every packet read and while the last stages finish, and with "alive" calls
// while the muxer finishes the file (moving the index to the front of an MP4 rewrites the
// whole file), so that a long finish is not taken for a hang. An observer that raises stops
// the conversion: every stage ends and Run raises what the observer raised.
//
// The output is written through the descriptor Run is given (CVFileIO): the writer never
// opens a file by name, and one that tries to is refused.
//
// Ownership between threads: the source's context and the timestamp mender belong to Run's
// thread; a lane's decoder, filter chain and decode-side counters to its decode thread; its
// encoder and written-packet count to its encode thread; the lane's set-up fields are
// written before its threads start and only read afterwards. m_muxMutex guards the output
// context while the stages run; m_mutex guards m_failure and m_runningStages; progress
// counters are atomics. After the threads are joined Run's thread reads everything.
// Construct, Plan and Run on one thread; failures raise CVTranscodeError with the result
// code of their kind.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "components/vtranscoderlib/helper/vavpointers.h"
#include "components/vtranscoderlib/helper/vconversionplan.h"
#include "components/vtranscoderlib/helper/vfileio.h"
#include "components/vtranscoderlib/helper/vfilterchain.h"
#include "components/vtranscoderlib/helper/vinputmedia.h"
#include "components/vtranscoderlib/vhelperrequest.h"
#include "components/vtranscoderlib/voutputformats.h"

struct SVPipelineObserver {
    // Position and duration in microseconds (duration 0 when unknown), source frames decoded.
    std::function<void(int64_t position, int64_t duration, int64_t frames)> progress;
    // Bytes of the output written so far, while the file is being finished.
    std::function<void(int64_t bytes)> alive;
};

// What one lane of the pipeline makes of its source stream.
struct SVLanePlan {
    int inputIndex = -1;
    bool isVideo = false;
    SVVideoPlan video;  // for a picture lane
    SVAudioPlan audio;  // for a sound lane
};

class CVTranscodePipeline {
public:
    // Reads the source and checks the request. Raises CVTranscodeError.
    CVTranscodePipeline(const SVHelperRequest& request, CVSourceFile source,
                        SVPipelineObserver observer);
    ~CVTranscodePipeline();

    CVTranscodePipeline(const CVTranscodePipeline&) = delete;
    CVTranscodePipeline& operator=(const CVTranscodePipeline&) = delete;

    // The streams the conversion reads, in output order, and what it makes of them; opens the
    // decoders, writes nothing. Raises CVTranscodeError.
    std::vector<SVLanePlan> Plan();
    // Converts the whole source into the output file, an empty file open for reading and
    // writing (not owned). Raises CVTranscodeError.
    void Run(int outputFd);

private:
    struct Lane;
    using LaneStage = void (CVTranscodePipeline::*)(Lane&);

    void SetUpLanes();
    void AddLane(int streamIndex);
    // Threads of a lane's decoder.
    int DecoderThreads(bool isVideo) const;
    void OpenOutput(int outputFd);

    // Run's thread.
    void StartStages();
    void ReadSource();
    // Waits until every stage has ended, reporting progress meanwhile.
    void WaitForStages();
    // Keeps the first failure and stops every queue.
    void Fail(std::exception_ptr failure);
    void JoinStages();
    bool AllInputsEnded() const;
    void ReportProgress();
    void FinishOutput();
    // Refuses a result that holds nothing, or far less than the source's content.
    void CheckCoverage(const Lane& lane) const;

    // Runs one stage of a lane on its thread: its failure becomes the pipeline's.
    void RunStage(Lane& lane, LaneStage stage);

    // A lane's decode thread: packets to filtered frames for the encoder.
    void DecodeStage(Lane& lane);
    void Decode(Lane& lane, const AVPacket* packet);
    void ReceiveFrames(Lane& lane);
    // Gives the frame its timestamp relative to the source's start; false when the source's
    // timestamps make no sense for it (the frame is dropped).
    bool StampFrame(Lane& lane, AVFrame* frame);
    // A new filter chain for a frame whose size or format differs from the chain's input.
    void RebuildFilter(Lane& lane, AVFrame* frame);
    // Threads of a picture chain's own for scaling.
    int ScalingThreads() const;
    // Where the lane's input ends, in its time base relative to the source's start.
    static int64_t EndTimestamp(const Lane& lane);
    // Ends the decoder's and the filter chain's input and passes on what they still hold.
    void EndInput(Lane& lane);
    void Drain(Lane& lane);
    // Puts a filtered frame on the encoder's time line and queues it for the encoder.
    void Deliver(Lane& lane, AVFrame* frame);

    // A lane's encode thread: frames to packets in the output.
    void EncodeStage(Lane& lane);
    void Encode(Lane& lane, AVFrame* frame);
    void WritePacket(Lane& lane, AVPacket* packet);

    static int OnInterrupt(void* opaque);
    // The writer's requests to open and close files: only the output itself, by its name.
    static int OnOpen(AVFormatContext* context, AVIOContext** io, const char* url, int flags,
                      AVDictionary** options);
    static int OnClose(AVFormatContext* context, AVIOContext* io);

    const SVHelperRequest m_request;
    const SVOutputFormat& m_format;
    const SVTranscodeSettings m_settings;
    SVPipelineObserver m_observer;
    CVInputMedia m_input;
    int m_outputFd = -1;
    std::string m_outputName;  // the name the writer knows the output by
    int m_outputError = 0;     // the first failure of a file the writer opened and closed
    AVFileIOPtr m_writer;      // declared before m_output: outlives it
    AVOutputContextPtr m_output;
    std::mutex m_muxMutex;  // guards m_output, m_writer and m_outputError while stages run
    std::vector<std::unique_ptr<Lane>> m_lanes;
    std::atomic<int64_t> m_position{0};  // microseconds decoded, the furthest lane's
    std::atomic<bool> m_finishing{false};
    std::atomic<bool> m_stopped{false};  // a failure stopped the stages
    std::mutex m_mutex;
    std::condition_variable m_stageEnded;
    std::exception_ptr m_failure;  // the first failure; guarded by m_mutex
    int m_runningStages = 0;       // guarded by m_mutex
};
