#include "recording/RecordingSession.h"

#include "channel/HelperError.h"

#include <exception>
#include <pthread.h>
#include <system_error>
#include <uuid/uuid.h>

namespace tarvio {

namespace {

std::string newRecordingId()
{
    uuid_t value;
    uuid_generate_random(value);
    char text[37];
    uuid_unparse_upper(value, text);
    return text;
}

// Samples the wall clock calls for after `seconds` of activity, truncated
// toward zero. Bounded so that no clock, however wrong, overflows the count.
int64_t samplesFor(double seconds)
{
    constexpr double bound = 4.0e18;
    double product = seconds * double(RecordingSession::sampleRate);
    if (!(product < bound))
        return int64_t(bound);
    if (!(product > -bound))
        return -int64_t(bound);
    return static_cast<int64_t>(product);
}

// The most samples one mixer pull takes; a longer gap is written in pieces
// so that memory stays bounded.
constexpr int64_t largestPull = 4 * RecordingSession::sampleRate;
constexpr int headerRewriteTicks = 10;

// Every recording that exists, for the process's exit. A recording leaves
// the list first thing when it is destroyed, so the list's lock keeps each
// one alive while the exit works on it.
std::mutex everyRecordingLock;
std::vector<RecordingSession*> everyRecording;

}

std::shared_ptr<RecordingSession> RecordingSession::create(std::string path, bool usesSystem, bool usesMic,
    CaptureDevices& devices, std::shared_ptr<Clock> clock)
{
    return std::make_shared<RecordingSession>(Private{}, std::move(path), usesSystem, usesMic, devices, std::move(clock));
}

RecordingSession::RecordingSession(Private, std::string path, bool usesSystem, bool usesMic, CaptureDevices& devices,
    std::shared_ptr<Clock> clock)
    : recordingId(newRecordingId())
    , filePath(std::move(path))
    , wantsSystem(usesSystem)
    , wantsMic(usesMic)
    , devices(devices)
    , clock(std::move(clock))
    , writer(filePath)
    , activeSince(this->clock->wallNow())
{
    std::lock_guard guard(everyRecordingLock);
    everyRecording.push_back(this);
}

RecordingSession::~RecordingSession()
{
    {
        std::lock_guard guard(everyRecordingLock);
        std::erase(everyRecording, this);
    }
    stopTimer();
}

void RecordingSession::finishAllForExit()
{
    std::lock_guard guard(everyRecordingLock);
    for (RecordingSession* session : everyRecording) {
        std::lock_guard sessionGuard(session->lock);
        session->writeDue();
        session->finishFile();
    }
}

SamplesCallback RecordingSession::captureCallback(int source)
{
    return [weak = weak_from_this(), source](std::span<const float> block) {
        auto session = weak.lock();
        if (!session)
            return;
        session->deliver(source, block);
    };
}

void RecordingSession::deliver(int source, std::span<const float> block)
{
    {
        std::lock_guard guard(lock);
        if (paused)
            return;
    }
    if (!block.empty())
        mixer.push(source, block);
}

void RecordingSession::finishAfterFailedStart()
{
    std::lock_guard guard(lock);
    writer.finish();
}

void RecordingSession::start(const std::vector<int32_t>& excludePids)
{
    if (started)
        throw internalError("a gravação já foi iniciada");
    started = true;

    if (wantsMic) {
        try {
            std::unique_ptr<CaptureSource> source = devices.microphone(captureCallback(micSourceIndex));
            source->start();
            mic = std::move(source);
        } catch (...) {
            if (!wantsSystem) {
                finishAfterFailedStart();
                throw;
            }
            warningCodes.push_back("mic_unavailable");
        }
    }

    if (wantsSystem && !devices.systemSoundSupported()) {
        if (!mic) {
            finishAfterFailedStart();
            throw invalidParams("o som do computador exige macOS 14.2 ou mais novo");
        }
        warningCodes.push_back("system_audio_unsupported");
    } else if (wantsSystem) {
        try {
            std::unique_ptr<CaptureSource> source = devices.systemSound(captureCallback(systemSourceIndex), excludePids);
            source->start();
            systemSource = std::move(source);
        } catch (...) {
            if (!mic) {
                finishAfterFailedStart();
                throw;
            }
            warningCodes.push_back("system_audio_unavailable");
        }
    }

    {
        // The time spent starting sources is not recorded.
        std::lock_guard guard(lock);
        activeSince = clock->wallNow();
    }
    startTimer();
}

void RecordingSession::startTimer()
{
    try {
        timer = std::jthread(runTimer, weak_from_this(), clock, clock->steadyNow() + tickInterval);
    } catch (const std::system_error& error) {
        if (mic)
            mic->stop();
        if (systemSource)
            systemSource->stop();
        finishAfterFailedStart();
        throw internalError(std::string("não foi possível iniciar o temporizador: ") + error.what());
    }
}

void RecordingSession::runTimer(std::stop_token stop, std::weak_ptr<RecordingSession> weak,
    std::shared_ptr<Clock> clock, Clock::SteadyTime next)
{
    pthread_setname_np(pthread_self(), "tarvio.mix");
    while (clock->sleepUntil(next, stop)) {
        {
            std::shared_ptr<RecordingSession> session = weak.lock();
            if (!session)
                return;
            session->tick();
        }
        // Firings missed while a tick ran late collapse into one, on the
        // original schedule.
        Clock::SteadyTime now = clock->steadyNow();
        do
            next += tickInterval;
        while (next <= now);
    }
}

void RecordingSession::stopTimer()
{
    if (!timer.joinable())
        return;
    timer.request_stop();
    // The last owner may let go inside a tick, on the timer's own thread.
    if (timer.get_id() == std::this_thread::get_id()) {
        timer.detach();
        return;
    }
    timer.join();
}

void RecordingSession::tick()
{
    std::lock_guard guard(lock);
    writeDue();
}

void RecordingSession::writeDue()
{
    if (paused || writer.isFinished())
        return;
    const Clock::WallTime now = clock->wallNow();
    double elapsed = std::chrono::duration<double>(now - activeSince).count();
    int64_t due = emittedAtActive + samplesFor(elapsed) - emittedSamples;
    const int64_t largestJump = largestClockJump.count() * sampleRate;
    const bool jumped = due > largestJump || due < -largestJump;
    if (due < -largestJump) {
        activeSince = now;
        emittedAtActive = emittedSamples;
        return;
    }
    due = std::min(due, largestJump);
    if (due <= 0)
        return;
    const std::array<bool, Mixer::sourceCount> active{systemSource != nullptr, mic != nullptr};
    while (due > 0) {
        int64_t count = std::min(due, largestPull);
        writeSamples(mixer.pull(count, active));
        due -= count;
    }
    if (jumped) {
        activeSince = now;
        emittedAtActive = emittedSamples;
    }
    if (++headerTicks >= headerRewriteTicks) {
        headerTicks = 0;
        if (!writer.rewriteHeader()) {
            writing.failing = true;
            writing.error = writer.lastError();
        }
    }
}

void RecordingSession::writeSamples(std::span<const int16_t> samples)
{
    // Each block goes to its own place in the timeline: after a failed
    // write the file resumes where the clock is, and the gap reads as
    // silence.
    size_t written = writer.writeAt(emittedSamples, samples);
    // Counted even when the write failed: the duration follows the clock.
    emittedSamples += int64_t(samples.size());
    writing.failing = written < samples.size();
    if (!writing.failing)
        return;
    writing.error = writer.lastError();
    writing.lostSamples += int64_t(samples.size() - written);
}

void RecordingSession::finishFile()
{
    if (writer.isFinished())
        return;
    // A file whose last writes failed still covers the whole recording time,
    // when it can grow without space (a gap needs none).
    writer.extendTo(emittedSamples);
    if (!writer.finish()) {
        writing.failing = true;
        writing.error = writer.lastError();
    }
}

RecordingSession::WriteState RecordingSession::writeState() const
{
    std::lock_guard guard(lock);
    return writing;
}

void RecordingSession::pause()
{
    std::lock_guard guard(lock);
    paused = true;
    mixer.clearQueues();
}

void RecordingSession::resume()
{
    std::lock_guard guard(lock);
    if (!paused)
        return;
    paused = false;
    activeSince = clock->wallNow();
    emittedAtActive = emittedSamples;
}

int64_t RecordingSession::stop()
{
    stopTimer();
    if (mic)
        mic->stop();
    if (systemSource)
        systemSource->stop();
    tick();
    std::lock_guard guard(lock);
    int64_t product = emittedSamples * 1000;
    finishFile();
    return product / sampleRate;
}

bool RecordingSession::isPaused() const
{
    std::lock_guard guard(lock);
    return paused;
}

int64_t RecordingSession::emitted() const
{
    std::lock_guard guard(lock);
    return emittedSamples;
}

int64_t RecordingSession::durationMs() const
{
    return emitted() * 1000 / sampleRate;
}

}
