// What a hostile or unlucky source or destination cannot do to a conversion: make the helper
// read anything but the one plain file named, block it, redirect or lose its output, or make
// it overwrite its own source.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <iterator>
#include <thread>

#include <gtest/gtest.h>

#include "components/vtranscoderlib/vconversion.h"
#include "components/vtranscoderlib/vmediaprobe.h"
#include "components/vtranscoderlib/vtranscodeerror.h"
#include "qlib/qsys/textcodec.h"
#include "qlib/qsys/uniquefd.h"
#include "qlib/qutilitylib/qexception.h"
#include "vtestmedia.h"

namespace {

using namespace std::chrono_literals;

class ConversionSafetyTest : public ::testing::Test {
protected:
    SVTranscodeOutcome Convert(const std::wstring& source, const std::string& destination,
                               int32_t format, std::chrono::milliseconds watchdog = 20s) {
        SVConversionOptions options;
        options.watchdog = watchdog;
        return CVConversion({source, m_media.Path(destination), format, {}}, options).Wait();
    }

    CVTestMedia m_media;
};

// A TCP port on the loopback that counts who connects to it.
class CVListeningPort {
public:
    CVListeningPort() : m_socket(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        EXPECT_EQ(bind(m_socket.Get(), reinterpret_cast<sockaddr*>(&address), length), 0);
        EXPECT_EQ(listen(m_socket.Get(), 4), 0);
        getsockname(m_socket.Get(), reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
    }
    int Port() const { return m_port; }
    bool WasContacted() const {
        qsys::UniqueFd peer(accept4(m_socket.Get(), nullptr, nullptr, SOCK_CLOEXEC));
        return peer.IsValid();
    }

private:
    qsys::UniqueFd m_socket;
    int m_port = 0;
};

}  // namespace

TEST_F(ConversionSafetyTest, OnlyThePlainFileOfTheExactNameIsRead) {
    m_media.Video("good.ts", 1.0, 160, 120, 10);
    m_media.Video("good.mp4", 1.0, 160, 120, 10);
    std::string folder = m_media.Folder().string();
    m_media.Text("playlist.mp4",
                 "#EXTM3U\n#EXT-X-TARGETDURATION:1\n#EXTINF:1.0,\ngood.ts\n#EXT-X-ENDLIST\n");
    m_media.Text("list.mp4", "ffconcat version 1.0\nfile good.mp4\n");
    CVListeningPort server;
    struct Case {
        const char* what;
        std::string source;
    };
    for (const Case& test : {
             Case{"playlist", folder + "/playlist.mp4"},
             Case{"concatenation list", folder + "/list.mp4"},
             Case{"concat protocol", "concat:" + folder + "/good.mp4|" + folder + "/good.mp4"},
             Case{"subfile protocol", "subfile,,start,0,end,0,,:" + folder + "/good.mp4"},
             Case{"file protocol", "file:" + folder + "/good.mp4"},
             Case{"network", "http://127.0.0.1:" + std::to_string(server.Port()) + "/a.mp4"},
         }) {
        SCOPED_TRACE(test.what);
        SVTranscodeOutcome outcome = Convert(qsys::FromUtf8(test.source), "out.mp4", 10, 5s);
        EXPECT_EQ(outcome.result, EVTranscodeResult_InputUnreadable)
            << qsys::ToUtf8(outcome.message);
        EXPECT_FALSE(std::filesystem::exists(m_media.Folder() / "out.mp4"));
    }
    EXPECT_FALSE(server.WasContacted()) << "no network request";

    // A percent sign is part of the name, not a numbered pattern.
    std::filesystem::rename(m_media.Still("wide.png", 64, 48), m_media.Folder() / "frame%03d.png");
    m_media.Still("frame001.png", 32, 32);
    ASSERT_EQ(Convert(m_media.Path("frame%03d.png"), "frame.png", 17).result,
              EVTranscodeResult_Completed);
    EXPECT_EQ(CVTestMedia::Inspect(m_media.Folder() / "frame.png").First("video").width, 64);
    // So is a colon.
    m_media.Still("a:b.png", 40, 30);
    ASSERT_EQ(Convert(m_media.Path("a:b.png"), "colon.png", 17).result,
              EVTranscodeResult_Completed);
}

TEST_F(ConversionSafetyTest, PipesDevicesAndFoldersAreRefusedAtOnce) {
    ASSERT_EQ(mkfifo((m_media.Folder() / "pipe.mp4").c_str(), 0600), 0);
    std::filesystem::create_directory(m_media.Folder() / "folder.mp4");
    for (const std::wstring& source :
         {m_media.Path("pipe.mp4"), m_media.Path("folder.mp4"), std::wstring(L"/dev/zero")}) {
        SCOPED_TRACE(qsys::ToUtf8(source));
        // A watchdog far beyond the test's time limit: only an immediate refusal passes.
        SVTranscodeOutcome outcome = Convert(source, "out.mp4", 10, 3600s);
        EXPECT_EQ(outcome.result, EVTranscodeResult_InputUnreadable)
            << qsys::ToUtf8(outcome.message);
        SVProbeOptions options;
        options.watchdog = 3600s;
        try {
            CVMediaProbe(options).Probe(source);
            ADD_FAILURE() << "probed";
        } catch (const CQException& error) {
            EXPECT_TRUE(error.HasErrorCode(TranscodeErrorCode(EVTranscodeResult_InputUnreadable)));
        }
    }
}

TEST_F(ConversionSafetyTest, OutputHasNoNameUntilItIsCompleteThenReplacesAtomically) {
    m_media.Make("long.mkv", {"-f", "lavfi", "-i", "testsrc2=size=320x240:rate=30:duration=60",
                              "-c:v", "mpeg4", "-q:v", "8"});
    std::mutex mutex;
    std::condition_variable progressed;
    bool running = false;
    SVConversionOptions options;
    options.onProgress = [&](const SVConversionProgress&) {
        std::lock_guard lock(mutex);
        running = true;
        progressed.notify_all();
    };
    CVConversion conversion({m_media.Path("long.mkv"), m_media.Path("out/long.mp4"), 10, {}},
                            options);
    SVTranscodeOutcome outcome;
    std::jthread runner([&] { outcome = conversion.Wait(); });
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(progressed.wait_for(lock, 60s, [&] { return running; }));
    }
    // Nothing to replace by a link, nothing left if the server dies now.
    EXPECT_EQ(m_media.Names(), std::vector<std::string>{"long.mkv"});
    conversion.Abort();
    runner.join();
    EXPECT_EQ(outcome.result, EVTranscodeResult_Aborted);

    // The longest name a folder entry may have; an existing file is replaced.
    m_media.Still("picture.png", 64, 48);
    std::string longest = std::string(251, 'n') + ".jpg";
    for (int round = 0; round < 2; ++round) {
        SVTranscodeOutcome written = Convert(m_media.Path("picture.png"), longest, 15);
        ASSERT_EQ(written.result, EVTranscodeResult_Completed) << qsys::ToUtf8(written.message);
    }
    EXPECT_EQ(m_media.Names(), (std::vector<std::string>{"long.mkv", longest, "picture.png"}));
}

TEST_F(ConversionSafetyTest, DestinationThatIsTheSourceIsRefusedAndTheSourceKept) {
    auto source = m_media.Still("picture.png", 64, 48);
    std::filesystem::create_hard_link(source, m_media.Folder() / "alias.png");
    const std::string before = CVTestMedia::Contents(source);
    for (const char* destination : {"picture.png", "alias.png"}) {
        SCOPED_TRACE(destination);
        SVTranscodeOutcome outcome = Convert(m_media.Path("picture.png"), destination, 17);
        EXPECT_EQ(outcome.result, EVTranscodeResult_OutputUnwritable);
        EXPECT_NE(outcome.message.find(L"is the source"), std::wstring::npos);
        EXPECT_EQ(CVTestMedia::Contents(source), before);
    }
    EXPECT_EQ(m_media.Names(), (std::vector<std::string>{"alias.png", "picture.png"}));
}

TEST_F(ConversionSafetyTest, HelperRunsWithinLimitsAndRefusesOversizedPictures) {
    // A plain grey picture compresses to almost nothing, yet declares 144 million pixels.
    m_media.Make("huge.png", {"-f", "lavfi", "-i", "color=gray:size=12000x12000", "-frames:v", "1",
                              "-pix_fmt", "gray"});
    EXPECT_LT(std::filesystem::file_size(m_media.Folder() / "huge.png"), 1u << 20);
    SVTranscodeOutcome outcome = Convert(m_media.Path("huge.png"), "huge.jpg", 15);
    EXPECT_EQ(outcome.result, EVTranscodeResult_UnsupportedSettings);
    EXPECT_NE(outcome.message.find(L"12000x12000"), std::wstring::npos)
        << qsys::ToUtf8(outcome.message);
    try {
        CVMediaProbe().Probe(m_media.Path("huge.png"));
        ADD_FAILURE() << "probed";
    } catch (const CQException& error) {
        EXPECT_TRUE(error.HasErrorCode(TranscodeErrorCode(EVTranscodeResult_UnsupportedSettings)));
    }

    // A running helper shows its limits.
    m_media.Make("long.mkv", {"-f", "lavfi", "-i", "testsrc2=size=320x240:rate=30:duration=60",
                              "-c:v", "mpeg4", "-q:v", "8"});
    std::atomic<bool> running = false;
    SVConversionOptions options;
    options.onProgress = [&](const SVConversionProgress&) {
        running = true;
        running.notify_all();
    };
    CVConversion conversion({m_media.Path("long.mkv"), m_media.Path("long.mp4"), 10, {}}, options);
    std::jthread runner([&] { conversion.Wait(); });
    running.wait(false);
    pid_t helper = conversion.HelperProcessId();
    ASSERT_TRUE(CVTestMedia::IsRunning(helper));
    CVTestMedia::ExpectHelperLimits(helper);
    conversion.Abort();
}

TEST_F(ConversionSafetyTest, ServerKilledOutrightLeavesNoHelperAndNoFile) {
    m_media.Make("long.mkv", {"-f", "lavfi", "-i", "testsrc2=size=320x240:rate=30:duration=60",
                              "-c:v", "mpeg4", "-q:v", "8"});
    int fds[2];
    ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
    qsys::UniqueFd readEnd(fds[0]);
    qsys::UniqueFd writeEnd(fds[1]);
    pid_t server = fork();
    ASSERT_GE(server, 0);
    if (server == 0) {
        // The stand-in server: converts and, once progress arrives, tells which process runs
        // the job.
        SVConversionOptions options;
        CVConversion* conversion = nullptr;
        options.onProgress = [&](const SVConversionProgress&) {
            pid_t helper = conversion->HelperProcessId();
            if (writeEnd.IsValid() &&
                write(writeEnd.Get(), &helper, sizeof helper) == sizeof helper) {
                writeEnd.Reset();
            }
        };
        CVConversion job({m_media.Path("long.mkv"), m_media.Path("out/long.mp4"), 10, {}}, options);
        conversion = &job;
        job.Wait();
        _exit(0);
    }
    writeEnd.Reset();
    pid_t helper = 0;
    ASSERT_EQ(read(readEnd.Get(), &helper, sizeof helper), sizeof helper) << "the conversion runs";
    // The job runs in a child of the server's warm helper, or in a helper of its own.
    std::vector<pid_t> helpers{helper};
    if (pid_t parent = CVTestMedia::ParentOf(helper); parent != server) {
        helpers.push_back(parent);
    }
    kill(server, SIGKILL);
    int status = 0;
    waitpid(server, &status, 0);
    EXPECT_TRUE(CVTestMedia::EndWithinBound(helpers)) << "the helpers died with the server";
    EXPECT_EQ(m_media.Names(), std::vector<std::string>{"long.mkv"}) << "no file, hidden or not";
}
