#include "channel/HelperError.h"
#include "recording/FakeCaptureDevices.h"
#include "recording/RecordingSession.h"
#include "recording/TestClock.h"
#include "recording/WavFile.h"

#include <algorithm>
#include <gtest/gtest.h>

using namespace tarvio;
using namespace tarvio::testing;
using namespace std::chrono_literals;

namespace {

class RecordingSessionTest : public ::testing::Test {
protected:
    std::shared_ptr<RecordingSession> makeSession(bool system, bool mic, std::string path = {})
    {
        if (path.empty())
            path = file.string();
        return RecordingSession::create(path, system, mic, devices, clock);
    }
    std::vector<uint8_t> bytes() { return readBytes(file); }
    std::vector<int16_t> samples() { return wavSamples(bytes()); }

    TemporaryFolder folder;
    std::filesystem::path file = folder / "rec.wav";
    FakeCaptureDevices devices;
    std::shared_ptr<TestClock> clock = std::make_shared<TestClock>();
};

}

TEST_F(RecordingSessionTest, NoSourceFillsTheFileWithSilenceAtTheWallClockPace)
{
    auto session = makeSession(false, false);
    EXPECT_EQ(session->id().size(), 36u);
    EXPECT_EQ(session->id().find_first_of("abcdef"), std::string::npos);
    session->start({});
    ASSERT_TRUE(clock->advanceTicks(25));
    EXPECT_EQ(session->emitted(), 40000);
    EXPECT_EQ(session->stop(), 2500);
    auto data = bytes();
    ASSERT_EQ(data.size(), 44u + 80000u);
    EXPECT_EQ(le32At(data, 40), 80000u);
    EXPECT_EQ(le32At(data, 4), 80036u);
    EXPECT_EQ(wavSamples(data), std::vector<int16_t>(40000, 0));
}

TEST_F(RecordingSessionTest, LateTickWritesTheWholeGap)
{
    auto session = makeSession(false, false);
    session->start({});
    ASSERT_TRUE(clock->advance(100ms));
    EXPECT_EQ(session->emitted(), 1600);
    ASSERT_TRUE(clock->advance(250ms));
    EXPECT_EQ(session->emitted(), 1600 + 4000);
    // The timer keeps its schedule: the next firing is at 400 ms.
    ASSERT_TRUE(clock->advance(50ms));
    EXPECT_EQ(session->emitted(), 6400);
    session->stop();
}

TEST_F(RecordingSessionTest, StopWritesWhatIsDueSinceTheLastTick)
{
    auto session = makeSession(false, false);
    session->start({});
    ASSERT_TRUE(clock->advanceTicks(3));
    clock->stepWall(40ms);
    EXPECT_EQ(session->stop(), 340);
    EXPECT_EQ(samples().size(), 340u * 16);
}

TEST_F(RecordingSessionTest, PausedTimeIsExcluded)
{
    auto session = makeSession(false, true);
    session->start({});
    ASSERT_TRUE(clock->advanceTicks(30));
    session->pause();
    EXPECT_TRUE(session->isPaused());
    ASSERT_TRUE(clock->advance(10s));
    EXPECT_EQ(session->emitted(), 48000);
    session->resume();
    EXPECT_FALSE(session->isPaused());
    ASSERT_TRUE(clock->advanceTicks(20));
    EXPECT_EQ(session->stop(), 5000);
    EXPECT_EQ(samples().size(), 80000u);
}

TEST_F(RecordingSessionTest, PauseDropsQueuedAudioAndBlocksWhilePaused)
{
    auto session = makeSession(false, true);
    session->start({});
    std::vector<float> loud(800, 0.5f);
    devices.mic->deliver(loud);
    session->pause();
    devices.mic->deliver(loud); // dropped: paused
    session->pause(); // again: only empties the queues
    session->resume();
    session->resume(); // not paused: changes nothing
    ASSERT_TRUE(clock->advance(100ms));
    session->stop();
    EXPECT_EQ(samples(), std::vector<int16_t>(1600, 0));
}

TEST_F(RecordingSessionTest, StopWhilePausedWritesNothingMore)
{
    auto session = makeSession(false, false);
    session->start({});
    ASSERT_TRUE(clock->advanceTicks(10));
    clock->stepWall(50ms); // under one tick's worth: never written
    session->pause();
    ASSERT_TRUE(clock->advance(3s));
    EXPECT_EQ(session->stop(), 1000);
    EXPECT_EQ(samples().size(), 16000u);
    // A second stop only answers again.
    EXPECT_EQ(session->stop(), 1000);
    EXPECT_EQ(samples().size(), 16000u);
}

TEST_F(RecordingSessionTest, WallClockStepsForwardAndBack)
{
    auto session = makeSession(false, false);
    session->start({});
    ASSERT_TRUE(clock->advance(100ms));
    // The machine slept half a minute: the monotonic clock did not move.
    clock->stepWall(30s);
    ASSERT_TRUE(clock->advance(100ms));
    EXPECT_EQ(session->emitted(), 1600 + 30 * 16000 + 1600);
    int64_t reached = session->emitted();
    // Set back by one second: nothing is written until the target passes.
    clock->stepWall(-1s);
    ASSERT_TRUE(clock->advanceTicks(10));
    EXPECT_EQ(session->emitted(), reached);
    ASSERT_TRUE(clock->advance(100ms));
    EXPECT_EQ(session->emitted(), reached + 1600);
    session->stop();
    EXPECT_EQ(samples().size(), size_t(reached + 1600));
}

// One jump of the clock adds at most a minute, either way; afterwards the
// recording goes on at the pace of the clock.
TEST_F(RecordingSessionTest, ClockJumpsAreBounded)
{
    using Years = std::chrono::duration<int64_t, std::ratio<31556952>>;
    struct Case {
        const char* name;
        std::chrono::milliseconds step;
        int64_t added; // by the tick after the step
    };
    const int64_t minute = 60 * 16000;
    const Case cases[] = {
        {"five years ahead", Years(5), minute},
        {"just beyond a minute", 60s + 1ms, minute},
        {"a minute less a tick", 59900ms, minute},
        {"five years back", -Years(5), 0},
        {"beyond a minute back", -61s, 0},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        auto session = makeSession(false, false);
        session->start({});
        ASSERT_TRUE(clock->advance(100ms));
        clock->stepWall(row.step);
        ASSERT_TRUE(clock->advance(100ms));
        EXPECT_EQ(session->emitted(), 1600 + row.added);
        ASSERT_TRUE(clock->advanceTicks(3));
        EXPECT_EQ(session->emitted(), 1600 + row.added + 3 * 1600);
        session->stop();
        EXPECT_EQ(samples().size(), size_t(1600 + row.added + 3 * 1600));
    }
}

TEST_F(RecordingSessionTest, HeaderIsRewrittenEveryTenWritingTicks)
{
    auto session = makeSession(false, false);
    session->start({});
    ASSERT_TRUE(clock->advanceTicks(9));
    EXPECT_EQ(le32At(bytes(), 40), 0u);
    // Ticks with nothing due do not count.
    clock->stepWall(-1s);
    ASSERT_TRUE(clock->advanceTicks(10));
    clock->stepWall(1s);
    EXPECT_EQ(le32At(bytes(), 40), 0u);
    ASSERT_TRUE(clock->advance(100ms));
    EXPECT_EQ(le32At(bytes(), 40), 2u * 1600 * 10 + 2u * 16000);
    session->stop();
}

TEST_F(RecordingSessionTest, SourcesAreMixedByIndex)
{
    auto session = makeSession(true, true);
    session->start({7, 9});
    EXPECT_EQ(devices.excluded, (std::vector<int32_t>{7, 9}));
    EXPECT_TRUE(session->hasMic());
    EXPECT_TRUE(session->hasSystemSource());
    // Blocks longer than the cushion a source starts with.
    devices.system->deliver(std::vector<float>(4800, 0.25f));
    devices.mic->deliver(std::vector<float>(4400, 0.5f));
    devices.mic->deliver({});
    ASSERT_TRUE(clock->advance(100ms));
    auto levels = session->levels();
    EXPECT_EQ(levels[0], 1.0f);
    EXPECT_EQ(levels[1], 1.0f);
    ASSERT_TRUE(clock->advanceTicks(3));
    session->stop();
    EXPECT_EQ(devices.mic->stopCount(), 1);
    EXPECT_EQ(devices.system->stopCount(), 1);
    auto written = samples();
    ASSERT_EQ(written.size(), 6400u);
    EXPECT_EQ(written[0], int16_t((0.25f + 0.5f) * 32767.0f));
    EXPECT_EQ(written[4399], int16_t((0.25f + 0.5f) * 32767.0f));
    EXPECT_EQ(written[4400], int16_t(0.25f * 32767.0f));
    EXPECT_EQ(written[4800], 0);
}

TEST_F(RecordingSessionTest, SourceDeliveringTooMuchIsCutToTheClock)
{
    auto session = makeSession(false, true);
    session->start({});
    // Five seconds at once: the push keeps 2 s, the first pull leaves 0.5 s.
    devices.mic->deliver(std::vector<float>(80000, 0.5f));
    ASSERT_TRUE(clock->advanceTicks(10));
    EXPECT_EQ(session->emitted(), 16000);
    session->stop();
    auto written = samples();
    ASSERT_EQ(written.size(), 16000u);
    const size_t carried = 1600 + 8000;
    for (size_t index = 0; index < written.size(); ++index)
        ASSERT_EQ(written[index], index < carried ? 16383 : 0) << index;
}

TEST_F(RecordingSessionTest, StreamingSourcesFromTheirOwnThreads)
{
    devices.micStream = 0.125f;
    devices.systemStream = 0.25f;
    auto session = makeSession(true, true);
    session->start({});
    for (int tick = 0; tick < 20; ++tick) {
        ASSERT_TRUE(clock->advance(100ms));
        session->levels();
        session->isPaused();
        if (tick == 8)
            session->pause();
        if (tick == 12)
            session->resume();
    }
    EXPECT_EQ(session->stop(), 1600);
    auto written = samples();
    ASSERT_EQ(written.size(), 25600u);
    // Mostly the sum of both; never beyond it.
    int16_t sum = int16_t((0.125f + 0.25f) * 32767.0f);
    for (int16_t sample : written)
        ASSERT_LE(sample, sum);
}

TEST_F(RecordingSessionTest, CallbacksAfterTheSessionIsGoneAreDropped)
{
    auto session = makeSession(false, true);
    session->start({});
    session->stop();
    session.reset();
    std::vector<float> block(100, 0.5f);
    devices.micCallback(block);
}

TEST_F(RecordingSessionTest, DroppedWithoutStopEndsItsTimer)
{
    auto session = makeSession(false, false);
    session->start({});
    ASSERT_TRUE(clock->advanceTicks(2));
    session.reset();
    // The header of the last rewrite stays: none happened yet.
    auto data = bytes();
    EXPECT_EQ(data.size(), 44u + 6400u);
    EXPECT_EQ(le32At(data, 40), 0u);
}

TEST_F(RecordingSessionTest, StartFailuresTable)
{
    const HelperError micError = unavailable("nenhum microfone disponível");
    const HelperError systemError = internalError("tap falhou");
    struct Case {
        const char* name;
        bool system, mic;
        bool micFails, systemFails, supported;
        std::optional<HelperError> raised;
        std::vector<std::string> warnings;
        bool hasSystem, hasMic;
    };
    const Case cases[] = {
        {"mic fails alone", false, true, true, false, true, micError, {}, false, false},
        {"mic fails with system", true, true, true, false, true, {}, {"mic_unavailable"}, true, false},
        {"unsupported with mic", true, true, false, false, false, {}, {"system_audio_unsupported"}, false, true},
        {"unsupported alone", true, false, false, false, false,
            invalidParams("o som do computador exige macOS 14.2 ou mais novo"), {}, false, false},
        {"unsupported, mic failed", true, true, true, false, false,
            invalidParams("o som do computador exige macOS 14.2 ou mais novo"), {"mic_unavailable"}, false, false},
        {"system fails with mic", true, true, false, true, true, {}, {"system_audio_unavailable"}, false, true},
        {"system fails alone", true, false, false, true, true, systemError, {}, false, false},
        {"both fail", true, true, true, true, true, systemError, {"mic_unavailable"}, false, false},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        FakeCaptureDevices fake;
        if (row.micFails)
            fake.micFailure = micError;
        if (row.systemFails)
            fake.systemFailure = systemError;
        fake.supported = row.supported;
        auto session = RecordingSession::create(file.string(), row.system, row.mic, fake, clock);
        session->addWarning("mic_denied");
        std::optional<HelperError> raised;
        try {
            session->start({});
        } catch (const HelperError& error) {
            raised = error;
        }
        EXPECT_EQ(raised.has_value(), row.raised.has_value());
        if (raised && row.raised) {
            EXPECT_EQ(raised->code, row.raised->code);
            EXPECT_EQ(raised->message, row.raised->message);
        }
        std::vector<std::string> warnings{"mic_denied"};
        warnings.insert(warnings.end(), row.warnings.begin(), row.warnings.end());
        EXPECT_EQ(session->warnings(), warnings);
        EXPECT_EQ(session->hasSystemSource(), row.hasSystem);
        EXPECT_EQ(session->hasMic(), row.hasMic);
        if (raised) {
            // A failed start leaves a finished, empty file.
            EXPECT_EQ(readBytes(file).size(), 44u);
            continue;
        }
        ASSERT_TRUE(clock->advance(100ms));
        EXPECT_EQ(session->stop(), 100);
    }
}

TEST_F(RecordingSessionTest, FileThatCannotBeCreated)
{
    std::string path = (folder / "nowhere/rec.wav").string();
    try {
        makeSession(false, true, path);
        FAIL() << "no error";
    } catch (const HelperError& error) {
        EXPECT_EQ(error.code, "internal");
        EXPECT_EQ(error.message, "não foi possível criar " + path);
    }
    EXPECT_EQ(devices.mic, nullptr);
}

// A full disk in the middle of a recording: the status says so while it
// lasts, the recording goes on, and once writing works again the file's
// timeline is whole, the lost part silent.
TEST_F(RecordingSessionTest, WriteFailuresLeaveSilenceAndAreCounted)
{
    auto session = makeSession(false, true);
    session->start({});
    auto deliverTick = [&] {
        devices.mic->deliver(std::vector<float>(1600, 0.5f));
        return clock->advance(100ms);
    };
    devices.mic->deliver(std::vector<float>(4000, 0.5f));
    for (int tick = 0; tick < 10; ++tick)
        ASSERT_TRUE(deliverTick());
    EXPECT_FALSE(session->writeState().failing);
    {
        FileSizeLimit full(44 + 16000 * 2);
        for (int tick = 0; tick < 10; ++tick)
            ASSERT_TRUE(deliverTick());
        auto state = session->writeState();
        EXPECT_TRUE(state.failing);
        EXPECT_EQ(state.error, "File too large");
        EXPECT_EQ(state.lostSamples, 16000);
    }
    for (int tick = 0; tick < 10; ++tick)
        ASSERT_TRUE(deliverTick());
    EXPECT_FALSE(session->writeState().failing);
    EXPECT_EQ(session->stop(), 3000);
    EXPECT_EQ(session->writeState().lostSamples, 16000);
    auto data = bytes();
    ASSERT_EQ(data.size(), 44u + 3 * 32000u);
    EXPECT_EQ(le32At(data, 40), 3 * 32000u);
    auto written = wavSamples(data);
    const int16_t sound = int16_t(0.5f * 32767.0f);
    EXPECT_EQ(std::count(written.begin(), written.begin() + 16000, sound), 16000);
    EXPECT_EQ(std::count(written.begin() + 16000, written.begin() + 32000, 0), 16000);
    EXPECT_EQ(std::count(written.begin() + 32000, written.end(), sound), 16000);
}

TEST_F(RecordingSessionTest, WritingThatFailsToTheEndStillCoversTheRecordingTime)
{
    auto session = makeSession(false, false);
    session->start({});
    ASSERT_TRUE(clock->advanceTicks(5));
    FileSizeLimit full(44 + 8000 * 2);
    ASSERT_TRUE(clock->advanceTicks(7));
    // The file grows without data to the whole time (a gap needs no space),
    // except where a size limit forbids even that.
    EXPECT_EQ(session->stop(), 1200);
    EXPECT_EQ(session->writeState().lostSamples, 7 * 1600);
    EXPECT_EQ(le32At(bytes(), 40), bytes().size() - 44);
}

// The process ends (end of input, a signal): what is due is written, the
// header covers all of it and the file is closed; the timer writes no more.
TEST_F(RecordingSessionTest, ExitFinishesTheFileOfEveryRecording)
{
    auto running = makeSession(false, false);
    running->start({});
    auto paused = RecordingSession::create((folder / "paused.wav").string(), false, false, devices, clock);
    paused->start({});
    ASSERT_TRUE(clock->advance(100ms, 2));
    paused->pause();
    ASSERT_TRUE(clock->advance(200ms, 2));
    clock->stepWall(40ms);
    RecordingSession::finishAllForExit();
    auto data = bytes();
    ASSERT_EQ(data.size(), 44u + 340u * 32);
    EXPECT_EQ(le32At(data, 40), 340u * 32);
    auto pausedData = readBytes(folder / "paused.wav");
    ASSERT_EQ(pausedData.size(), 44u + 1600u * 2);
    EXPECT_EQ(le32At(pausedData, 40), 1600u * 2);
    ASSERT_TRUE(clock->advance(100ms, 2));
    EXPECT_EQ(bytes(), data);
    EXPECT_EQ(running->stop(), 340);
    EXPECT_EQ(bytes(), data);
}

TEST(RecordingSessionRealClock, TicksOnItsOwn)
{
    TemporaryFolder folder;
    FakeCaptureDevices devices;
    auto session = RecordingSession::create((folder / "rec.wav").string(), false, false, devices);
    auto started = std::chrono::steady_clock::now();
    session->start({});
    // The timer writes on its own: wait for its first ticks (generously, for slow machines).
    while (session->emitted() < 3 * 1600 && std::chrono::steady_clock::now() - started < 5s)
        std::this_thread::sleep_for(10ms);
    EXPECT_GE(session->emitted(), 3 * 1600);
    int64_t duration = session->stop();
    EXPECT_GE(duration, 300);
    EXPECT_LT(duration, 5000);
    EXPECT_EQ(readBytes(folder / "rec.wav").size(), 44u + size_t(session->emitted()) * 2);
}
