#pragma once
// CVTestMedia: a temporary folder for one test, with media made in it by the ffmpeg command
// line tool, and SVInspection, what libavformat reads back from a file. Short, small media
// keep the suite quick.
//
// One instance per test; removes its folder (and everything in it) when destroyed.

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

struct SVInspectedStream {
    std::string type;   // "video", "audio"
    std::string codec;  // FFmpeg's codec name
    int width = 0;
    int height = 0;
    double frameRate = 0.0;  // average
    int64_t frames = 0;      // packets counted
    int channels = 0;
    int sampleRate = 0;
    int64_t bitRate = 0;
    int profile = -99;
    int level = -99;
};

struct SVInspection {
    std::string demuxer;
    std::string brand;  // ISO files' major brand
    double durationSeconds = 0.0;
    std::vector<SVInspectedStream> streams;

    int Count(const std::string& type) const;
    const SVInspectedStream& First(const std::string& type) const;
};

class CVTestMedia {
public:
    CVTestMedia();
    ~CVTestMedia();
    CVTestMedia(const CVTestMedia&) = delete;
    CVTestMedia& operator=(const CVTestMedia&) = delete;

    const std::filesystem::path& Folder() const { return m_folder; }
    std::wstring Path(const std::string& name) const;

    // Runs ffmpeg with the arguments, writing `name` in the folder; fails the test on error.
    std::filesystem::path Make(const std::string& name, const std::vector<std::string>& arguments);
    // testsrc2 video with `audioStreams` sine tones (stereo), H.264 + AAC unless the name asks
    // for another container.
    std::filesystem::path Video(const std::string& name, double seconds, int width, int height,
                                int frameRate, int audioStreams = 1);
    // A still picture of testsrc2.
    std::filesystem::path Still(const std::string& name, int width, int height);
    // A sine tone.
    std::filesystem::path Tone(const std::string& name, double seconds, int channels = 2,
                               int sampleRate = 44100);
    // A file of the given text.
    std::filesystem::path Text(const std::string& name, const std::string& content);
    // An executable shell script (a stand-in helper).
    std::filesystem::path Script(const std::string& name, const std::string& body);

    // The names in a folder (default: the test folder), hidden ones included.
    std::vector<std::string> Names(const std::filesystem::path& folder = {}) const;

    // The file's bytes.
    static std::string Contents(const std::filesystem::path& path);

    static SVInspection Inspect(const std::filesystem::path& path);

    // The mean brightness (0 to 255) of a region of the first picture at or after `seconds`;
    // the region in fractions of the picture's width and height. -1 when there is none.
    static double MeanLuma(const std::filesystem::path& path, double seconds, double left,
                           double top, double right, double bottom);

    // The state letter of a process as /proc shows it ('R', 'S', 'T', 'Z', ...); 0 when there
    // is no such process.
    static char StateOf(pid_t pid);
    // The parent of a process; 0 when there is no such process.
    static pid_t ParentOf(pid_t pid);
    // True while the process exists and has not ended (an unreaped one has ended).
    static bool IsRunning(pid_t pid);
    // Polls, up to ten seconds, until none of the processes runs: a process killed through its
    // parent's death ends soon after, not at once. True when none runs.
    static bool EndWithinBound(const std::vector<pid_t>& pids);
    // Checks that a running helper process has the helper's limits: open files, address space
    // (not in sanitizer builds), no new privileges.
    static void ExpectHelperLimits(pid_t pid);

private:
    std::filesystem::path m_folder;
};
