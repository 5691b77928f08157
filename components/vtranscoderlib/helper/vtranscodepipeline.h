#pragma once
// CVTranscodePipeline: one conversion inside the helper process: demux the source, decode the
// streams the output keeps, filter them (CVFilterChain, as CVConversionPlan decides), encode
// them (CVEncoderFactory) and mux them into the output file. One lane per kept stream:
//
//     packet -> decoder -> filter chain -> encoder -> muxer
//
// Pictures take the first decodable frame. Packets that fail to decode are skipped as the
// ffmpeg tool does; a stream of which not one frame decodes makes the source unreadable.
// Timestamps are put on one continuous timeline first (CVTimestampMender), a size or format
// change in mid-stream rebuilds the lane's filters (fitted into the same frame, so the aspect
// ratio stays), and a result holding less than half of what was decoded is a failure.
// Data that stops making sense part-way ends the input there (what was decoded is kept); an
// I/O error while reading fails the conversion. Protected (encrypted) content is refused.
//
// The observer hears about progress (decoded position, frames encoded) after every packet and
// gets "alive" calls while the muxer finishes the file (moving the index to the front of an
// MP4 rewrites the whole file), so that a long finish is not taken for a hang.
//
// The output is written through the descriptor Run is given (CVFileIO): the writer never
// opens a file by name, and one that tries to is refused.
//
// Used by one thread; failures raise CVTranscodeError with the result code of their kind.

#include <cstdint>
#include <functional>
#include <memory>
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

    void SetUpLanes();
    void AddLane(int streamIndex);
    void OpenOutput(int outputFd);
    void ReadSource();
    void Decode(Lane& lane, const AVPacket* packet);
    void ReceiveFrames(Lane& lane);
    // Gives the frame its timestamp relative to the source's start; false when the source's
    // timestamps make no sense for it (the frame is dropped).
    bool StampFrame(Lane& lane, AVFrame* frame);
    // A new filter chain for a frame whose size or format differs from the chain's input.
    void RebuildFilter(Lane& lane, AVFrame* frame);
    // Refuses a result that holds nothing, or far less than the source's content.
    void CheckCoverage(const Lane& lane) const;
    // Where the lane's input ends, in its time base relative to the source's start.
    static int64_t EndTimestamp(const Lane& lane);
    void Drain(Lane& lane);
    void Encode(Lane& lane, AVFrame* frame);
    void WritePacket(Lane& lane, AVPacket* packet);
    void Flush(Lane& lane);
    void FinishOutput();
    void ReportProgress();
    bool AllInputsEnded() const;
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
    std::vector<std::unique_ptr<Lane>> m_lanes;
    AVFramePtr m_decoded = MakeFrame();
    AVFramePtr m_filtered = MakeFrame();
    AVPacketPtr m_encoded = MakePacket();
    int64_t m_position = 0;  // microseconds decoded
    bool m_finishing = false;
};
