#pragma once
// CVConversion: one conversion job, run in a helper process (CVHelperProcess; a child of the
// warm helper, CVWarmHelper, unless a helper executable is configured) so that whatever the
// decoders do to it, the caller gets a result. It writes the output under a temporary name
// (CVPendingOutput) and gives it its final name only when the helper reported success.
//
//     CVConversion conversion({source, destination, 10, settings}, options);
//     conversion.Start();                                // launches the helper
//     SVTranscodeOutcome outcome = conversion.Wait();    // blocks; progress arrives meanwhile
//
// While Wait blocks, other threads may call Pause (the helper's process group is stopped with
// SIGSTOP), Continue (SIGCONT) and Abort (SIGKILL; Wait then returns Aborted at once). The
// time spent paused counts neither for the estimate of the time left nor for the no-progress
// watchdog, which kills a helper that has not advanced for options.watchdog and reports
// HelperHung with how far the job had come. Only real progress counts: the decoded position
// or frame count advancing, or, while the file is being finished, its size growing.
//
// Threads: Start and Wait belong to one thread (the one that supervises; the helper dies with
// it); Pause, Continue, Abort, IsPaused and ActiveSeconds may be called from any thread.
// The progress callback runs on the thread in Wait and must not throw.
// m_mutex guards m_state, m_paused, m_abortRequested, m_process and m_clock (the pointers;
// the objects synchronise themselves).

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "components/vtranscoderlib/vhelperprocess.h"
#include "components/vtranscoderlib/voutputformats.h"
#include "components/vtranscoderlib/vpausableclock.h"
#include "components/vtranscoderlib/vpendingoutput.h"
#include "components/vtranscoderlib/vtranscoderesult.h"
#include "components/vtranscoderlib/vtranscodesettings.h"

struct SVConversionJob {
    std::wstring source;
    std::wstring destination;
    int32_t outputFormat = 0;
    SVTranscodeSettings settings;
};

struct SVConversionProgress {
    double percent = -1.0;  // 0 to 100; -1 when the duration is unknown
    double positionSeconds = 0.0;
    double durationSeconds = 0.0;    // 0 when unknown
    int64_t frames = 0;              // source frames (or audio frames) processed so far
    double framesPerSecond = 0.0;    // frames per second of active time
    double activeSeconds = 0.0;      // time spent converting, paused time excluded
    double remainingSeconds = -1.0;  // estimate; -1 while unknown
};

struct SVConversionOptions {
    std::string helperExecutable;  // empty: the default helper, served warm (CVWarmHelper)
    std::chrono::milliseconds watchdog{60'000};
    int niceness = 0;  // above 0 runs the helper at a lower CPU priority
    std::function<void(const SVConversionProgress&)> onProgress;
};

enum EVConversionState : int32_t {
    EVConversionState_Created = 0,
    EVConversionState_Running = 1,
    EVConversionState_Finished = 2,
};

class CVConversion {
public:
    // Raises CQException (code 53003, see vtranscodeerror.h) for an output format code that the
    // catalogue does not define.
    CVConversion(SVConversionJob job, SVConversionOptions options = {});
    // Kills a helper that still runs and removes its partial output. Never throws.
    ~CVConversion();

    CVConversion(const CVConversion&) = delete;
    CVConversion& operator=(const CVConversion&) = delete;

    // Checks the settings, prepares the destination and launches the helper. A failure becomes
    // the outcome that Wait returns; Start does not throw for it.
    void Start();
    // Blocks until the job has ended and returns how. Starts it first when Start was not
    // called. Calling it again returns the same outcome.
    SVTranscodeOutcome Wait();

    // True when the helper was stopped; false when no conversion runs or it is paused already.
    bool Pause();
    // True when a paused helper was resumed.
    bool Continue();
    // True when the job was running, paused or not yet started; it ends as Aborted.
    bool Abort();

    bool IsPaused() const;
    EVConversionState State() const;
    // The time spent converting so far, paused time excluded.
    double ActiveSeconds() const;
    // The process that runs the job while it runs (0 before and after), for diagnostics.
    pid_t HelperProcessId() const;

private:
    void Finish(SVTranscodeOutcome outcome);
    bool OnHelperMessage(const CVHelperMessage& message);
    // How far the job had come, for the message of a hang.
    std::wstring DescribeProgress() const;

    const SVConversionJob m_job;
    const SVConversionOptions m_options;
    const SVOutputFormat& m_format;

    // Used by the thread in Start and Wait only.
    std::unique_ptr<CVPendingOutput> m_output;  // declared before m_process: outlives it
    SVTranscodeOutcome m_outcome;
    int64_t m_lastPosition = -1;
    int64_t m_lastFrames = -1;
    int64_t m_lastDuration = 0;
    int64_t m_lastBytes = -1;  // of the output while it is being finished

    mutable std::mutex m_mutex;
    EVConversionState m_state = EVConversionState_Created;  // guarded by m_mutex
    bool m_paused = false;                                  // guarded by m_mutex
    bool m_abortRequested = false;                          // guarded by m_mutex
    std::unique_ptr<CVPausableClock> m_clock;               // guarded by m_mutex
    std::unique_ptr<CVHelperProcess> m_process;             // guarded by m_mutex
};
