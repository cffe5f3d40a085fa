#include "recording/WavFile.h"
#include "recording/pulse/PulseServer.h"
#include "support/HelperProcess.h"

#include <gtest/gtest.h>

#include <chrono>
#include <algorithm>
#include <csignal>
#include <sys/resource.h>
#include <thread>

using namespace tarvio;
using namespace tarvio::testing;
using namespace std::chrono_literals;
using Seconds = std::chrono::duration<double>;
using SteadyClock = std::chrono::steady_clock;

namespace {

std::vector<float> asFloats(const std::vector<int16_t>& samples)
{
    std::vector<float> result;
    result.reserve(samples.size());
    for (int16_t sample : samples)
        result.push_back(float(sample) / 32768.0f);
    return result;
}

// A WAV file as the host reads it after the recording.
struct Recorded {
    explicit Recorded(const std::filesystem::path& path) : bytes(readBytes(path)), samples(wavSamples(bytes)) {}
    uint32_t headerDataBytes() const { return bytes.size() >= 44 ? le32At(bytes, 40) : 0; }
    double tone(double frequency) const { return toneAmplitude(asFloats(samples), frequency); }

    std::vector<uint8_t> bytes;
    std::vector<int16_t> samples;
};

class RecordingEndToEndTest : public ::testing::Test {
protected:
    std::string file(const std::string& name) const { return (folder / name).string(); }
    Json result(const Json& response)
    {
        EXPECT_TRUE(response.contains("result")) << response;
        return response.value("result", Json());
    }

    PulseServer server;
    TemporaryFolder folder;
    HelperProcess helper {server.environment()};
};

TEST_F(RecordingEndToEndTest, BothSidesOfACallAtTheWallClockPace)
{
    writeTone(file("call.wav"), 1000, 8);
    Player player(server, file("call.wav"));
    std::this_thread::sleep_for(200ms);

    auto beforeStart = SteadyClock::now();
    Json started = result(helper.call("recording.start", {{"path", file("rec.wav")}}));
    auto afterStart = SteadyClock::now();
    EXPECT_EQ(started["sources"], (Json {{"system", true}, {"mic", true}}));
    EXPECT_EQ(started["warnings"], Json::array());

    double systemLevel = 0, micLevel = 0;
    for (int poll = 0; poll < 12; ++poll) {
        std::this_thread::sleep_for(250ms);
        Json status = result(helper.call("recording.status"));
        EXPECT_EQ(status["state"], "recording");
        systemLevel = std::max(systemLevel, status["levels"]["system"].get<double>());
        micLevel = std::max(micLevel, status["levels"]["mic"].get<double>());
    }
    EXPECT_GT(systemLevel, 0.0);
    EXPECT_GT(micLevel, 0.0);

    auto beforeStop = SteadyClock::now();
    Json stopped = result(helper.call("recording.stop"));
    auto afterStop = SteadyClock::now();
    EXPECT_EQ(stopped["path"], file("rec.wav"));

    Recorded recording(file("rec.wav"));
    ASSERT_EQ(recording.headerDataBytes(), recording.samples.size() * 2);
    EXPECT_EQ(stopped["durationMs"], int64_t(recording.samples.size()) * 1000 / 16000);
    // Within one tick of the active wall-clock time.
    double shortest = Seconds(beforeStop - afterStart).count() * 16000;
    double longest = Seconds(afterStop - beforeStart).count() * 16000;
    EXPECT_GE(double(recording.samples.size()), shortest - 1600);
    EXPECT_LE(double(recording.samples.size()), longest + 1600);
    EXPECT_GT(recording.tone(440), 0.02);
    EXPECT_GT(recording.tone(1000), 0.05);
}

TEST_F(RecordingEndToEndTest, AnExcludedPlayerIsAbsentAndTheOtherPresent)
{
    writeTone(file("excluded.wav"), 1000, 6);
    writeTone(file("other.wav"), 2500, 6);
    Player excluded(server, file("excluded.wav"));
    Player other(server, file("other.wav"));
    std::this_thread::sleep_for(200ms);
    result(helper.call("recording.start",
        {{"path", file("rec.wav")}, {"sources", "system"}, {"excludePids", {excluded.pid()}}}));
    std::this_thread::sleep_for(2s);
    result(helper.call("recording.stop"));

    Recorded recording(file("rec.wav"));
    double present = recording.tone(2500);
    EXPECT_GT(present, 0.05);
    EXPECT_LT(recording.tone(1000), present / 50);
}

TEST_F(RecordingEndToEndTest, PausedTimeIsAbsentFromFileAndDuration)
{
    result(helper.call("recording.start", {{"path", file("rec.wav")}, {"sources", "mic"}}));
    std::this_thread::sleep_for(1s);
    EXPECT_EQ(result(helper.call("recording.pause"))["state"], "paused");
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(result(helper.call("recording.resume"))["state"], "recording");
    std::this_thread::sleep_for(1s);
    Json stopped = result(helper.call("recording.stop"));
    EXPECT_NEAR(stopped["durationMs"].get<double>(), 2000, 250);
    Recorded recording(file("rec.wav"));
    EXPECT_EQ(stopped["durationMs"], int64_t(recording.samples.size()) * 1000 / 16000);
}

TEST_F(RecordingEndToEndTest, EachSourceAloneAndTheLifecycleRules)
{
    struct Case {
        std::string sources;
        Json started;
    };
    const std::vector<Case> cases {
        {"mic", {{"system", false}, {"mic", true}}},
        {"system", {{"system", true}, {"mic", false}}},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.sources);
        Json started = result(helper.call("recording.start", {{"path", file(test.sources + ".wav")}, {"sources", test.sources}}));
        EXPECT_EQ(started["sources"], test.started);
        Json second = helper.call("recording.start", {{"path", file("second.wav")}});
        EXPECT_EQ(second["error"], (Json {{"code", "invalid_params"}, {"message", "já existe uma gravação em andamento"}}));
        std::this_thread::sleep_for(500ms);
        EXPECT_EQ(result(helper.call("recording.status"))["sources"], test.started);
        EXPECT_GT(result(helper.call("recording.stop"))["durationMs"].get<int64_t>(), 400);
        Json again = helper.call("recording.stop");
        EXPECT_EQ(again["error"], (Json {{"code", "not_found"}, {"message", "nenhuma gravação em andamento"}}));
    }
    Recorded mic(file("mic.wav"));
    EXPECT_GT(mic.tone(440), 0.02);
}

TEST_F(RecordingEndToEndTest, WithoutAMicrophoneBothRecordsTheComputerAlone)
{
    server.pactl("set-default-source testsink.monitor");
    Json started = result(helper.call("recording.start", {{"path", file("rec.wav")}}));
    EXPECT_EQ(started["sources"], (Json {{"system", true}, {"mic", false}}));
    EXPECT_EQ(started["warnings"], Json {"mic_unavailable"});
    EXPECT_EQ(helper.call("recording.start", {{"path", file("mic.wav")}, {"sources", "mic"}})["error"]["code"],
        "invalid_params");
    result(helper.call("recording.stop"));
    EXPECT_EQ(helper.call("recording.start", {{"path", file("mic.wav")}, {"sources", "mic"}})["error"],
        (Json {{"code", "unavailable"}, {"message", "nenhum microfone disponível"}}));
}

TEST_F(RecordingEndToEndTest, AMicrophoneReplacedByAMonitorIsLostUntilItReturns)
{
    result(helper.call("recording.start", {{"path", file("rec.wav")}, {"sources", "mic"}}));
    auto lostIs = [&](bool lost) {
        auto asked = SteadyClock::now();
        while (SteadyClock::now() - asked < 5s) {
            if (result(helper.call("recording.status"))["lostSources"]["mic"] == lost)
                return true;
            std::this_thread::sleep_for(50ms);
        }
        return false;
    };
    std::this_thread::sleep_for(300ms);
    EXPECT_TRUE(lostIs(false));
    server.pactl("set-default-source testsink.monitor");
    EXPECT_TRUE(lostIs(true));
    EXPECT_EQ(result(helper.call("recording.status"))["state"], "recording");
    server.pactl("set-default-source testmic");
    EXPECT_TRUE(lostIs(false));
    result(helper.call("recording.stop"));
}

TEST_F(RecordingEndToEndTest, TheRecordingOutlivesTheAudioServer)
{
    result(helper.call("recording.start", {{"path", file("rec.wav")}}));
    std::this_thread::sleep_for(800ms);
    server.kill();
    for (int poll = 0; poll < 4; ++poll) {
        std::this_thread::sleep_for(300ms);
        auto asked = SteadyClock::now();
        EXPECT_EQ(result(helper.call("recording.status"))["state"], "recording");
        EXPECT_LT(SteadyClock::now() - asked, 500ms);
    }
    auto asked = SteadyClock::now();
    Json stopped = result(helper.call("recording.stop"));
    EXPECT_LT(SteadyClock::now() - asked, 1s);
    EXPECT_NEAR(stopped["durationMs"].get<double>(), 2000, 400);
    Recorded recording(file("rec.wav"));
    EXPECT_EQ(recording.headerDataBytes(), recording.samples.size() * 2);
    EXPECT_EQ(stopped["durationMs"], int64_t(recording.samples.size()) * 1000 / 16000);
}

TEST_F(RecordingEndToEndTest, AHungAudioServerHoldsNoRequestUp)
{
    result(helper.call("recording.start", {{"path", file("rec.wav")}}));
    std::this_thread::sleep_for(500ms);
    server.freeze();
    std::this_thread::sleep_for(1s);
    auto asked = SteadyClock::now();
    EXPECT_EQ(result(helper.call("recording.status"))["state"], "recording");
    Json stopped = result(helper.call("recording.stop"));
    EXPECT_LT(SteadyClock::now() - asked, 1s);
    server.thaw();
    EXPECT_NEAR(stopped["durationMs"].get<double>(), 1500, 300);
    Recorded recording(file("rec.wav"));
    EXPECT_EQ(recording.headerDataBytes(), recording.samples.size() * 2);
}

TEST_F(RecordingEndToEndTest, TheHostGoingAwayLeavesAWholeFile)
{
    struct Case {
        const char* name;
        int signal; // 0: the host closes standard input
    };
    const Case cases[] = {{"end of input", 0}, {"SIGTERM", SIGTERM}, {"SIGHUP", SIGHUP}, {"SIGINT", SIGINT}};
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        HelperProcess host(server.environment());
        std::string path = file(std::string(row.name) + ".wav");
        auto beforeStart = SteadyClock::now();
        ASSERT_TRUE(host.call("recording.start", {{"path", path}})["result"].is_object());
        auto afterStart = SteadyClock::now();
        std::this_thread::sleep_for(1500ms);
        auto ended = SteadyClock::now();
        if (row.signal)
            ::kill(host.pid(), row.signal);
        int status = host.finish();
        auto exited = SteadyClock::now();
        EXPECT_EQ(status, row.signal ? -1 : 0);
        EXPECT_EQ(host.errorOutput(), "");
        Recorded recording(path);
        ASSERT_GE(recording.bytes.size(), 44u);
        EXPECT_EQ(recording.headerDataBytes(), recording.bytes.size() - 44);
        EXPECT_EQ(le32At(recording.bytes, 4), recording.bytes.size() - 8);
        // The recorded time lies between the start's answer and the end,
        // and within the life of the request and the process.
        double fileMs = double(recording.samples.size()) / 16.0;
        EXPECT_GE(fileMs, Seconds(ended - afterStart).count() * 1000 - 50);
        EXPECT_LE(fileMs, Seconds(exited - beforeStart).count() * 1000 + 50);
    }
}

TEST_F(RecordingEndToEndTest, AKilledHelperLeavesAReadableFile)
{
    result(helper.call("recording.start", {{"path", file("rec.wav")}, {"sources", "mic"}}));
    std::this_thread::sleep_for(2500ms);
    ::kill(helper.pid(), SIGKILL);
    helper.finish();
    Recorded recording(file("rec.wav"));
    size_t dataBytes = recording.bytes.size() - 44;
    EXPECT_GT(recording.headerDataBytes(), 0u);
    EXPECT_LE(recording.headerDataBytes(), dataBytes);
    // At most about a second behind its data.
    EXPECT_LE(dataBytes - recording.headerDataBytes(), 1.2 * 32000);
}

TEST_F(RecordingEndToEndTest, NothingElseWritesTheFileOfTheRecording)
{
    result(helper.call("recording.start", {{"path", file("rec.wav")}, {"sources", "mic"}}));
    std::filesystem::create_symlink(file("rec.wav"), file("link.wav"));
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(helper.call("recording.selftest", {{"path", file("link.wav")}})["error"],
        (Json {{"code", "internal"}, {"message", "não foi possível criar " + file("link.wav")}}));
    std::this_thread::sleep_for(300ms);
    Json stopped = result(helper.call("recording.stop"));
    Recorded recording(file("rec.wav"));
    EXPECT_EQ(recording.headerDataBytes(), recording.bytes.size() - 44);
    EXPECT_EQ(stopped["durationMs"], int64_t(recording.samples.size()) * 1000 / 16000);
    EXPECT_GT(recording.tone(440), 0.02);
}

TEST_F(RecordingEndToEndTest, AFullDiskIsReportedAndTheTimelineStaysWhole)
{
    EXPECT_EQ(helper.call("recording.start", {{"path", "/dev/full"}})["error"],
        (Json {{"code", "internal"}, {"message", "não foi possível criar /dev/full"}}));
    result(helper.call("recording.start", {{"path", file("rec.wav")}, {"sources", "mic"}}));
    std::this_thread::sleep_for(600ms);
    // The file may not grow any more, as on a full disk.
    rlimit full {rlim_t(std::filesystem::file_size(file("rec.wav"))), RLIM_INFINITY};
    ASSERT_EQ(::prlimit(helper.pid(), RLIMIT_FSIZE, &full, nullptr), 0);
    std::this_thread::sleep_for(1s);
    Json failing = result(helper.call("recording.status"));
    EXPECT_EQ(failing["state"], "recording");
    EXPECT_EQ(failing["writeFailing"], true);
    EXPECT_EQ(failing["writeError"], "File too large");
    EXPECT_GT(failing["lostMs"].get<int>(), 700);
    rlimit lifted {RLIM_INFINITY, RLIM_INFINITY};
    ASSERT_EQ(::prlimit(helper.pid(), RLIMIT_FSIZE, &lifted, nullptr), 0);
    std::this_thread::sleep_for(600ms);
    Json working = result(helper.call("recording.status"));
    EXPECT_EQ(working["writeFailing"], false);
    EXPECT_EQ(working["writeError"], nullptr);
    Json stopped = result(helper.call("recording.stop"));
    EXPECT_NEAR(stopped["durationMs"].get<double>(), 2200, 250);
    EXPECT_NEAR(stopped["lostMs"].get<double>(), 1000, 200);
    Recorded recording(file("rec.wav"));
    EXPECT_EQ(recording.headerDataBytes(), recording.bytes.size() - 44);
    EXPECT_EQ(stopped["durationMs"], int64_t(recording.samples.size()) * 1000 / 16000);
}

namespace {

// The longest run of zero samples in [from, to).
size_t longestSilence(const std::vector<int16_t>& samples, size_t from, size_t to)
{
    size_t longest = 0, run = 0;
    for (size_t index = from; index < std::min(to, samples.size()); ++index) {
        run = samples[index] == 0 ? run + 1 : 0;
        longest = std::max(longest, run);
    }
    return longest;
}

}

// A continuous tone through the microphone stays continuous in the file:
// no gap beyond 2 ms once 300 ms have passed since the start, a resume, or
// the return of the audio server; while the server is away, the status says
// the microphone is lost.
TEST_F(RecordingEndToEndTest, AContinuousToneStaysContinuous)
{
    const size_t settle = 300 * 16, gap = 2 * 16;
    result(helper.call("recording.start", {{"path", file("rec.wav")}, {"sources", "mic"}}));
    std::this_thread::sleep_for(1500ms);
    size_t pausedAt = size_t(result(helper.call("recording.pause"))["durationMs"].get<int64_t>()) * 16;
    std::this_thread::sleep_for(500ms);
    result(helper.call("recording.resume"));
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(result(helper.call("recording.status"))["lostSources"], (Json {{"system", false}, {"mic", false}}));
    size_t killedAt = size_t(result(helper.call("recording.status"))["durationMs"].get<int64_t>()) * 16;
    server.kill();
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(result(helper.call("recording.status"))["lostSources"], (Json {{"system", false}, {"mic", true}}));
    server.restart();
    // Back once the microphone is no longer lost and its tone arrives again.
    auto waited = SteadyClock::now();
    auto back = [&] {
        Json status = result(helper.call("recording.status"));
        return status["lostSources"]["mic"] == false && status["levels"]["mic"].get<double>() > 0.05;
    };
    while (!back() && SteadyClock::now() - waited < 8s)
        std::this_thread::sleep_for(50ms);
    EXPECT_EQ(result(helper.call("recording.status"))["lostSources"]["mic"], false);
    std::this_thread::sleep_for(1500ms);
    result(helper.call("recording.stop"));

    Recorded recording(file("rec.wav"));
    const auto& samples = recording.samples;
    EXPECT_LE(longestSilence(samples, settle, pausedAt), gap) << "after the start";
    EXPECT_LE(longestSilence(samples, pausedAt + settle, killedAt), gap) << "after the resume";
    // The server's absence is silence; once it is back, the tone is whole.
    size_t returned = killedAt;
    for (size_t index = killedAt, run = 0; index < samples.size(); ++index) {
        run = samples[index] == 0 ? run + 1 : 0;
        if (run > gap)
            returned = index + 1;
    }
    ASSERT_GT(returned, killedAt + 8000) << "no silence while the server was away";
    ASSERT_GT(samples.size(), returned + 16000);
    EXPECT_GT(recording.tone(440), 0.02);
}

TEST(RecordingWithoutServer, EachSourcesValueGetsItsError)
{
    TemporaryFolder folder;
    HelperProcess helper({{"PULSE_SERVER", "unix:" + (folder / "none").string()}});
    struct Case {
        std::string sources;
        Json error;
    };
    const Json noMic = {{"code", "unavailable"}, {"message", "nenhum microfone disponível"}};
    const Json noOutput = {{"code", "unavailable"}, {"message", "sem dispositivo de saída de áudio"}};
    const std::vector<Case> cases {{"mic", noMic}, {"system", noOutput}, {"both", noOutput}};
    for (const Case& test : cases) {
        SCOPED_TRACE(test.sources);
        std::string path = (folder / (test.sources + ".wav")).string();
        EXPECT_EQ(helper.call("recording.start", {{"path", path}, {"sources", test.sources}})["error"], test.error);
        EXPECT_EQ(helper.call("recording.status")["result"]["state"], "idle");
        EXPECT_EQ(readBytes(path).size(), 44u);
    }
    EXPECT_EQ(helper.call("recording.permission")["result"],
        (Json {{"mic", "authorized"}, {"system", "unknown"}, {"systemSupported", true}}));
    EXPECT_EQ(helper.finish(), 0);
    EXPECT_EQ(helper.errorOutput(), "");
}

}
