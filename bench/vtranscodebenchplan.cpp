// vtranscode_bench_plan: what the benchmark script needs to know of a conversion's plan.
//
//     vtranscode_bench_plan ffmpeg --source S --output D --format N [settings]
//     vtranscode_bench_plan reference --source S --output D --format N [settings]
//
// "ffmpeg" prints the ffmpeg command line that makes the same file with the same filters and
// encoder settings as the engine, shell-quoted. "reference" prints the filter chain
// that turns the source's pictures into what the output should show (same size, rate and
// padding, not encoded): the script measures PSNR against it. Settings are
// the helper's options (--video-width, --frame-rate, --audio-bit-rate, ...).

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "components/vtranscoderlib/helper/vtranscodepipeline.h"
#include "components/vtranscoderlib/vhelperrequest.h"
#include "components/vtranscoderlib/vsourcefile.h"
#include "components/vtranscoderlib/vtranscodeerror.h"

namespace {

std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

std::string Kilobits(int64_t bitRate) {
    return std::to_string(bitRate / 1000) + "k";
}

// The encoder options of the engine's CVEncoderFactory, in the ffmpeg tool's words.
std::vector<std::string> VideoEncoderOptions(const SVOutputFormat& format,
                                             const SVVideoPlan& plan) {
    const std::string encoder = format.videoEncoder;
    std::vector<std::string> options{"-c:v", encoder};
    if (encoder == "mjpeg") {
        options.insert(options.end(), {"-q:v", "3"});
    }
    if (plan.bitRate == 0) {
        return options;
    }
    options.insert(options.end(), {"-b:v", Kilobits(plan.bitRate), "-maxrate",
                                   Kilobits(plan.bitRate), "-bufsize", Kilobits(2 * plan.bitRate)});
    if (encoder == "libx264") {
        options.insert(options.end(), {"-preset", "medium", "-profile:v", "baseline"});
        if (plan.level > 0) {
            options.insert(options.end(), {"-level:v", std::to_string(plan.level / 10) + "." +
                                                           std::to_string(plan.level % 10)});
        }
        return options;
    }
    long gop = std::lround(av_q2d(plan.frameRate) * 10);
    options.insert(options.end(), {"-bt", Kilobits(plan.bitRate / 4), "-g", std::to_string(gop),
                                   "-mbd", "rd", "-trellis", "1"});
    if (encoder == "mpeg4") {
        options.insert(options.end(), {"-flags", "+mv4+aic", "-profile:v", "0"});
        if (plan.level > 0) {
            options.insert(options.end(), {"-level:v", std::to_string(plan.level)});
        }
    }
    return options;
}

std::vector<std::string> FfmpegCommand(const SVHelperRequest& request,
                                       const std::vector<SVLanePlan>& lanes) {
    const SVOutputFormat& format = CVOutputFormats::Get(request.outputFormat);
    std::vector<std::string> command{"ffmpeg", "-nostdin", "-y",          "-v",
                                     "error",  "-i",       request.source};
    int audioIndex = 0;
    for (const SVLanePlan& lane : lanes) {
        command.insert(command.end(), {"-map", "0:" + std::to_string(lane.inputIndex)});
        if (lane.isVideo) {
            command.insert(command.end(), {"-filter:v:0", lane.video.filter});
            auto options = VideoEncoderOptions(format, lane.video);
            command.insert(command.end(), options.begin(), options.end());
        } else {
            std::string index = std::to_string(audioIndex++);
            command.insert(command.end(), {"-filter:a:" + index, lane.audio.filter, "-c:a:" + index,
                                           "aac", "-b:a:" + index, Kilobits(lane.audio.bitRate)});
        }
    }
    if (format.kind == EVMediaKind_Image) {
        command.insert(command.end(), {"-frames:v", "1", "-update", "1"});
    } else {
        command.insert(command.end(), {"-movflags", "+faststart"});
    }
    command.insert(command.end(), {"-f", format.muxer, request.output});
    return command;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    if (arguments.empty()) {
        fprintf(stderr, "usage: %s ffmpeg|reference --source S --output D --format N ...\n",
                argv[0]);
        return 2;
    }
    const std::string mode = arguments[0];
    arguments[0] = "convert";
    auto parsed = SVHelperRequest::Parse(arguments);
    if (auto* problem = std::get_if<std::string>(&parsed)) {
        fprintf(stderr, "%s: %s\n", argv[0], problem->c_str());
        return 2;
    }
    const SVHelperRequest& request = std::get<SVHelperRequest>(parsed);
    try {
        std::vector<SVLanePlan> lanes =
            CVTranscodePipeline(request, CVSourceFile::Open(request.source), {}).Plan();
        if (mode == "reference") {
            const SVVideoPlan& plan = lanes.front().video;
            bool image = CVOutputFormats::Get(request.outputFormat).kind == EVMediaKind_Image;
            printf("%s\n", image ? ("scale=" + std::to_string(plan.width) + ":" +
                                    std::to_string(plan.height) + ",setsar=1")
                                       .c_str()
                                 : plan.filter.c_str());
            return 0;
        }
        std::string line;
        for (const std::string& word : FfmpegCommand(request, lanes)) {
            if (!line.empty()) {
                line += ' ';
            }
            line += Quote(word);
        }
        printf("%s\n", line.c_str());
        return 0;
    } catch (const CVTranscodeError& error) {
        fprintf(stderr, "%s\n", error.what());
        return 1;
    }
}
