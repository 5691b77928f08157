#include "vtestmedia.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "qlib/qsys/textcodec.h"

extern char** environ;

int SVInspection::Count(const std::string& type) const {
    return static_cast<int>(std::count_if(streams.begin(), streams.end(),
                                          [&](const auto& stream) { return stream.type == type; }));
}

const SVInspectedStream& SVInspection::First(const std::string& type) const {
    for (const SVInspectedStream& stream : streams) {
        if (stream.type == type) {
            return stream;
        }
    }
    static const SVInspectedStream none;
    ADD_FAILURE() << "no " << type << " stream";
    return none;
}

CVTestMedia::CVTestMedia() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/vtranscoder-test-XXXXXX";
    char* made = mkdtemp(pattern.data());
    if (!made) {
        throw std::runtime_error("mkdtemp failed");
    }
    m_folder = made;
}

CVTestMedia::~CVTestMedia() {
    std::error_code ignored;
    // Restore write permission of folders a test made read-only, so that removal succeeds.
    for (auto& entry : std::filesystem::recursive_directory_iterator(m_folder, ignored)) {
        if (entry.is_directory(ignored)) {
            chmod(entry.path().c_str(), 0755);
        }
    }
    std::filesystem::remove_all(m_folder, ignored);
}

std::wstring CVTestMedia::Path(const std::string& name) const {
    return qsys::FromUtf8((m_folder / name).string());
}

std::filesystem::path CVTestMedia::Make(const std::string& name,
                                        const std::vector<std::string>& arguments) {
    std::filesystem::path output = m_folder / name;
    std::vector<std::string> command{"ffmpeg", "-nostdin", "-v", "error", "-y"};
    command.insert(command.end(), arguments.begin(), arguments.end());
    command.push_back(output.string());
    std::vector<char*> argv;
    for (std::string& argument : command) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    int status = -1;
    if (posix_spawnp(&pid, "ffmpeg", nullptr, nullptr, argv.data(), environ) == 0) {
        waitpid(pid, &status, 0);
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "ffmpeg failed making " << name;
    return output;
}

std::filesystem::path CVTestMedia::Video(const std::string& name, double seconds, int width,
                                         int height, int frameRate, int audioStreams) {
    std::string duration = std::to_string(seconds);
    std::vector<std::string> arguments{
        "-f", "lavfi", "-i",
        "testsrc2=size=" + std::to_string(width) + "x" + std::to_string(height) +
            ":rate=" + std::to_string(frameRate) + ":duration=" + duration};
    for (int i = 0; i < audioStreams; ++i) {
        arguments.insert(arguments.end(), {"-f", "lavfi", "-i",
                                           "sine=frequency=" + std::to_string(440 + 110 * i) +
                                               ":sample_rate=44100:duration=" + duration});
    }
    for (int i = 0; i <= audioStreams; ++i) {
        arguments.insert(arguments.end(), {"-map", std::to_string(i)});
    }
    arguments.insert(arguments.end(), {"-ac", "2", "-pix_fmt", "yuv420p"});
    if (name.ends_with(".mp4") || name.ends_with(".mkv")) {
        arguments.insert(arguments.end(),
                         {"-c:v", "libx264", "-preset", "ultrafast", "-c:a", "aac"});
    }
    return Make(name, arguments);
}

std::filesystem::path CVTestMedia::Still(const std::string& name, int width, int height) {
    return Make(name, {"-f", "lavfi", "-i",
                       "testsrc2=size=" + std::to_string(width) + "x" + std::to_string(height),
                       "-frames:v", "1"});
}

std::filesystem::path CVTestMedia::Tone(const std::string& name, double seconds, int channels,
                                        int sampleRate) {
    return Make(name, {"-f", "lavfi", "-i",
                       "sine=frequency=440:sample_rate=" + std::to_string(sampleRate) +
                           ":duration=" + std::to_string(seconds),
                       "-ac", std::to_string(channels)});
}

std::filesystem::path CVTestMedia::Text(const std::string& name, const std::string& content) {
    std::filesystem::path path = m_folder / name;
    std::ofstream(path, std::ios::binary) << content;
    return path;
}

std::filesystem::path CVTestMedia::Script(const std::string& name, const std::string& body) {
    std::filesystem::path path = Text(name, "#!/bin/sh\n" + body + "\n");
    chmod(path.c_str(), 0755);
    return path;
}

std::vector<std::string> CVTestMedia::Names(const std::filesystem::path& folder) const {
    std::vector<std::string> names;
    for (const auto& entry :
         std::filesystem::directory_iterator(folder.empty() ? m_folder : folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string CVTestMedia::Contents(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

namespace {

// The fields of /proc/<pid>/stat after the command name: state, parent, ...
std::vector<std::string> StatFields(pid_t pid) {
    std::string stat = CVTestMedia::Contents("/proc/" + std::to_string(pid) + "/stat");
    size_t end = stat.rfind(')');
    std::vector<std::string> fields;
    if (end == std::string::npos) {
        return fields;
    }
    std::istringstream rest(stat.substr(end + 1));
    for (std::string field; rest >> field;) {
        fields.push_back(field);
    }
    return fields;
}

}  // namespace

char CVTestMedia::StateOf(pid_t pid) {
    std::vector<std::string> fields = StatFields(pid);
    return fields.empty() ? 0 : fields[0][0];
}

pid_t CVTestMedia::ParentOf(pid_t pid) {
    std::vector<std::string> fields = StatFields(pid);
    return fields.size() < 2 ? 0 : static_cast<pid_t>(std::stol(fields[1]));
}

bool CVTestMedia::IsRunning(pid_t pid) {
    char state = StateOf(pid);
    return state != 0 && state != 'Z' && state != 'X';
}

bool CVTestMedia::EndWithinBound(const std::vector<pid_t>& pids) {
    const auto running = [&] { return std::any_of(pids.begin(), pids.end(), IsRunning); };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (running() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return !running();
}

void CVTestMedia::ExpectHelperLimits(pid_t pid) {
    std::string proc = "/proc/" + std::to_string(pid);
    std::string limits = Contents(proc + "/limits");
    EXPECT_NE(limits.find("Max open files            64                   64"), std::string::npos)
        << limits;
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    EXPECT_NE(limits.find("Max address space         4294967296           4294967296"),
              std::string::npos)
        << limits;
#endif
    EXPECT_NE(Contents(proc + "/status").find("NoNewPrivs:\t1"), std::string::npos);
}

SVInspection CVTestMedia::Inspect(const std::filesystem::path& path) {
    SVInspection inspection;
    AVFormatContext* context = nullptr;
    if (avformat_open_input(&context, path.c_str(), nullptr, nullptr) < 0) {
        ADD_FAILURE() << "cannot open " << path;
        return inspection;
    }
    avformat_find_stream_info(context, nullptr);
    inspection.demuxer = context->iformat->name;
    if (auto* brand = av_dict_get(context->metadata, "major_brand", nullptr, 0)) {
        inspection.brand = brand->value;
    }
    if (context->duration != AV_NOPTS_VALUE) {
        inspection.durationSeconds = static_cast<double>(context->duration) / AV_TIME_BASE;
    }
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        const AVStream* stream = context->streams[i];
        const AVCodecParameters* parameters = stream->codecpar;
        SVInspectedStream facts;
        facts.type = av_get_media_type_string(parameters->codec_type)
                         ? av_get_media_type_string(parameters->codec_type)
                         : "";
        facts.codec = avcodec_get_name(parameters->codec_id);
        facts.width = parameters->width;
        facts.height = parameters->height;
        if (stream->avg_frame_rate.den > 0) {
            facts.frameRate = av_q2d(stream->avg_frame_rate);
        }
        facts.channels = parameters->ch_layout.nb_channels;
        facts.sampleRate = parameters->sample_rate;
        facts.bitRate = parameters->bit_rate;
        facts.profile = parameters->profile;
        facts.level = parameters->level;
        inspection.streams.push_back(facts);
    }
    AVPacket* packet = av_packet_alloc();
    while (av_read_frame(context, packet) >= 0) {
        ++inspection.streams[static_cast<size_t>(packet->stream_index)].frames;
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    avformat_close_input(&context);
    return inspection;
}

namespace {

double RegionLuma(const AVFrame* frame, double left, double top, double right, double bottom) {
    std::vector<uint8_t> gray(static_cast<size_t>(frame->width) * frame->height);
    SwsContext* scaler = sws_getContext(
        frame->width, frame->height, static_cast<AVPixelFormat>(frame->format), frame->width,
        frame->height, AV_PIX_FMT_GRAY8, SWS_POINT, nullptr, nullptr, nullptr);
    uint8_t* planes[1] = {gray.data()};
    int strides[1] = {frame->width};
    sws_scale(scaler, frame->data, frame->linesize, 0, frame->height, planes, strides);
    sws_freeContext(scaler);
    int x0 = static_cast<int>(left * frame->width), x1 = static_cast<int>(right * frame->width);
    int y0 = static_cast<int>(top * frame->height), y1 = static_cast<int>(bottom * frame->height);
    double sum = 0;
    for (int y = y0; y < y1; ++y) {
        for (int x = x0; x < x1; ++x) {
            sum += gray[static_cast<size_t>(y) * frame->width + x];
        }
    }
    return sum / std::max(1, (x1 - x0) * (y1 - y0));
}

}  // namespace

double CVTestMedia::MeanLuma(const std::filesystem::path& path, double seconds, double left,
                             double top, double right, double bottom) {
    AVFormatContext* context = nullptr;
    if (avformat_open_input(&context, path.c_str(), nullptr, nullptr) < 0) {
        return -1;
    }
    avformat_find_stream_info(context, nullptr);
    int index = av_find_best_stream(context, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    double luma = -1;
    if (index >= 0) {
        const AVStream* stream = context->streams[index];
        const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
        AVCodecContext* decoder = avcodec_alloc_context3(codec);
        avcodec_parameters_to_context(decoder, stream->codecpar);
        avcodec_open2(decoder, codec, nullptr);
        AVPacket* packet = av_packet_alloc();
        AVFrame* frame = av_frame_alloc();
        bool more = true;
        while (luma < 0 && more) {
            more = av_read_frame(context, packet) >= 0;
            if (more && packet->stream_index != index) {
                av_packet_unref(packet);
                continue;
            }
            avcodec_send_packet(decoder, more ? packet : nullptr);
            av_packet_unref(packet);
            while (luma < 0 && avcodec_receive_frame(decoder, frame) == 0) {
                double time = frame->best_effort_timestamp == AV_NOPTS_VALUE
                                  ? 0.0
                                  : static_cast<double>(frame->best_effort_timestamp) *
                                        av_q2d(stream->time_base);
                if (time + 1e-3 >= seconds) {
                    luma = RegionLuma(frame, left, top, right, bottom);
                }
            }
        }
        av_frame_free(&frame);
        av_packet_free(&packet);
        avcodec_free_context(&decoder);
    }
    avformat_close_input(&context);
    return luma;
}
