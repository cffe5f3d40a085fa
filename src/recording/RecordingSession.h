#pragma once

// One recording of a meeting or class: the microphone and/or the computer's
// sound, mixed into one 16 kHz mono 16-bit WAV file at the pace of the wall
// clock, with pause, resume and live levels.
//
// Use:
//     auto session = RecordingSession::create(path, usesSystem, usesMic, devices);
//     session->start(excludePids);   // sources start, the mix timer runs
//     session->pause(); session->resume();
//     int64_t durationMs = session->stop();   // final tick, file finished
//
// `create` throws the writer's HelperError when the file cannot be created;
// `start` throws a source's HelperError when no source could start (the file
// is then finished, empty). Sources reach the session through
// `CaptureDevices`; time through `Clock` (tests pass one they step). The
// owner keeps the shared pointer from `create` until after `stop`, and calls
// everything from one thread (the request thread); capture callbacks and the
// mix timer hold the session weakly and run on their own threads.

#include "recording/CaptureSource.h"
#include "recording/Clock.h"
#include "recording/Mixer.h"
#include "recording/WavWriter.h"

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tarvio {

class RecordingSession : public std::enable_shared_from_this<RecordingSession> {
    struct Private {};

public:
    static constexpr int systemSourceIndex = 0;
    static constexpr int micSourceIndex = 1;
    static constexpr int64_t sampleRate = 16000;
    static constexpr std::chrono::milliseconds tickInterval{100};
    // The most recording time one tick adds. A wall clock that moved further
    // since the last tick was set (or the machine slept): the rest of the
    // jump is left out, so a clock set years ahead cannot fill the disk with
    // silence. A clock set back by more than this re-anchors the same way
    // instead of holding the file still until it catches up.
    static constexpr std::chrono::seconds largestClockJump{60};
    // Cushion a source starts with, after a pause or a gap (250 ms): more
    // than one capture block and one tick apart.
    static constexpr size_t primeSamples = 4000;

    static std::shared_ptr<RecordingSession> create(std::string path, bool usesSystem, bool usesMic,
        CaptureDevices& devices, std::shared_ptr<Clock> clock = systemClock());
    RecordingSession(Private, std::string path, bool usesSystem, bool usesMic, CaptureDevices& devices,
        std::shared_ptr<Clock> clock);
    ~RecordingSession();

    RecordingSession(const RecordingSession&) = delete;
    RecordingSession& operator=(const RecordingSession&) = delete;

    // Starts the sources asked for (the system source leaves out the given
    // processes' sound) and the mix timer. Call once.
    void start(const std::vector<int32_t>& excludePids);
    void pause();
    void resume();
    // Stops the timer and the sources, writes what is still due, finishes the
    // file and returns the duration in milliseconds. Later calls only return
    // the duration again.
    int64_t stop();
    // For the process's exit: writes what is due, brings the header up to
    // date and closes the file of every recording that has one open. Sources
    // and timers are left running; any thread.
    static void finishAllForExit();

    // Where writing stands: whether the last write (of samples or header)
    // failed and why, and the samples lost to failed writes so far (the file
    // holds silence in their place).
    struct WriteState {
        bool failing = false;
        std::string error;
        int64_t lostSamples = 0;
    };
    WriteState writeState() const;

    const std::string& id() const { return recordingId; }
    const std::string& path() const { return filePath; }
    bool isPaused() const;
    // Samples produced for the file so far, written or not.
    int64_t emitted() const;
    int64_t durationMs() const;
    // Live levels of the system sound (0) and the microphone (1), 0 to 1.
    std::array<float, Mixer::sourceCount> levels() const { return mixer.levels(); }
    bool hasSystemSource() const { return systemSource != nullptr; }
    bool hasMic() const { return mic != nullptr; }
    // Sources that started and have since lost their device or server.
    bool systemSourceLost() const { return systemSource && systemSource->isLost(); }
    bool micLost() const { return mic && mic->isLost(); }
    bool usesSystem() const { return wantsSystem; }
    bool usesMic() const { return wantsMic; }

    // Warning codes in the order added, the ones of `start` included.
    const std::vector<std::string>& warnings() const { return warningCodes; }
    void addWarning(std::string code) { warningCodes.push_back(std::move(code)); }

private:
    SamplesCallback captureCallback(int source);
    void deliver(int source, std::span<const float> block);
    void tick();
    // Writes what the clock calls for; `lock` held.
    void writeDue();
    void writeSamples(std::span<const int16_t> samples);
    void finishFile();
    void startTimer();
    void stopTimer();
    void finishAfterFailedStart();
    static void runTimer(std::stop_token stop, std::weak_ptr<RecordingSession> session,
        std::shared_ptr<Clock> clock, Clock::SteadyTime firstFiring);

    const std::string recordingId;
    const std::string filePath;
    const bool wantsSystem;
    const bool wantsMic;
    CaptureDevices& devices;
    const std::shared_ptr<Clock> clock;

    Mixer mixer {primeSamples};
    std::unique_ptr<CaptureSource> mic;
    std::unique_ptr<CaptureSource> systemSource;
    std::vector<std::string> warningCodes;
    bool started = false;
    std::jthread timer;

    // Guards what follows, and the writer during a tick. Taken before the
    // mixer's lock, never after it.
    mutable std::mutex lock;
    WavWriter writer;
    bool paused = false;
    int64_t emittedSamples = 0;
    Clock::WallTime activeSince;
    int64_t emittedAtActive = 0;
    int headerTicks = 0;
    WriteState writing;
};

}
