#include "channel/HelperError.h"
#include "recording/pulse/MicSource.h"
#include "recording/WavFile.h"
#include "recording/pulse/PulseServer.h"
#include "recording/pulse/SystemTapSource.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <optional>
#include <thread>
#include <unistd.h>

using namespace tarvio;
using namespace tarvio::pulse;
using namespace tarvio::testing;
using namespace std::chrono_literals;

namespace {

// Gathers what a source delivers, from its capture thread.
class Collector {
public:
    SamplesCallback callback()
    {
        return [this](std::span<const float> block) {
            std::lock_guard guard(mutex);
            samples.insert(samples.end(), block.begin(), block.end());
            ++blocks;
        };
    }
    size_t blockCount()
    {
        std::lock_guard guard(mutex);
        return blocks;
    }
    std::vector<float> take()
    {
        std::lock_guard guard(mutex);
        return std::exchange(samples, {});
    }

private:
    std::mutex mutex;
    std::vector<float> samples;
    size_t blocks = 0;
};

template<typename Error>
HelperError errorOf(Error&& action)
{
    try {
        action();
    } catch (const HelperError& error) {
        return error;
    }
    return {"", "no error"};
}

class CaptureTest : public ::testing::Test {
protected:
    PulseServer server;
    TemporaryFolder files;
    Collector collected;
};

TEST_F(CaptureTest, MicrophoneDeliversItsToneAtSixteenKilohertz)
{
    MicSource mic(collected.callback());
    mic.start();
    std::this_thread::sleep_for(1500ms);
    mic.stop();
    size_t blocks = collected.blockCount();
    auto samples = collected.take();
    EXPECT_NEAR(double(samples.size()), 1.5 * 16000, 0.35 * 16000);
    // 4096 frames at 48 kHz are about 1365 samples at 16 kHz.
    ASSERT_GT(blocks, 0u);
    EXPECT_NEAR(double(samples.size()) / double(blocks), 1365, 300);
    double tone = toneAmplitude(samples, 440);
    EXPECT_GT(tone, 0.05);
    EXPECT_LT(toneAmplitude(samples, 1000), tone / 100);
    // Nothing arrives once stop has returned.
    std::this_thread::sleep_for(200ms);
    EXPECT_TRUE(collected.take().empty());
}

TEST_F(CaptureTest, SystemSoundCapturesWhatIsPlayed)
{
    writeTone((files / "tone.wav").string(), 1000, 3);
    SystemTapSource system(collected.callback(), {getpid()});
    system.start();
    Player player(server, (files / "tone.wav").string());
    std::this_thread::sleep_for(1500ms);
    system.stop();
    auto samples = collected.take();
    EXPECT_GT(samples.size(), 16000u);
    double tone = toneAmplitude(samples, 1000);
    EXPECT_GT(tone, 0.1);
    EXPECT_LT(toneAmplitude(samples, 440), tone / 100);
}

TEST_F(CaptureTest, ExcludedPlayerIsLeftOutWhileOthersComeAndGo)
{
    writeTone((files / "excluded.wav").string(), 600, 8);
    writeTone((files / "first.wav").string(), 1000, 1);
    writeTone((files / "second.wav").string(), 2500, 3);
    writeTone((files / "third.wav").string(), 1700, 3);
    Player excluded(server, (files / "excluded.wav").string());
    std::this_thread::sleep_for(300ms);
    SystemTapSource system(collected.callback(), {getpid(), 999999, excluded.pid()});
    system.start();
    {
        Player first(server, (files / "first.wav").string());
        first.wait();
    }
    auto whileFirst = collected.take();
    // Two at once are captured apart and summed.
    Player second(server, (files / "second.wav").string());
    Player third(server, (files / "third.wav").string());
    std::this_thread::sleep_for(1500ms);
    system.stop();
    auto whileSecond = collected.take();

    double firstTone = toneAmplitude(whileFirst, 1000);
    EXPECT_GT(firstTone, 0.05);
    EXPECT_LT(toneAmplitude(whileFirst, 600), firstTone / 50);
    double secondTone = toneAmplitude(whileSecond, 2500);
    EXPECT_GT(secondTone, 0.05);
    EXPECT_GT(toneAmplitude(whileSecond, 1700), 0.05);
    EXPECT_LT(toneAmplitude(whileSecond, 600), secondTone / 50);
}

TEST_F(CaptureTest, CaptureComesBackAfterTheServerRestarts)
{
    MicSource mic(collected.callback());
    mic.start();
    std::this_thread::sleep_for(700ms);
    EXPECT_GT(toneAmplitude(collected.take(), 440), 0.05);

    server.kill();
    std::this_thread::sleep_for(300ms);
    collected.take();
    std::this_thread::sleep_for(500ms);
    EXPECT_TRUE(collected.take().empty());

    server.restart();
    std::this_thread::sleep_for(2500ms);
    auto start = std::chrono::steady_clock::now();
    mic.stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
    // The last second: a server may take a while to set its devices up.
    auto samples = collected.take();
    samples.erase(samples.begin(), samples.end() - std::min<std::ptrdiff_t>(16000, std::ssize(samples)));
    EXPECT_GT(toneAmplitude(samples, 440), 0.05);
}

TEST_F(CaptureTest, NewDefaultDevicesAreFollowed)
{
    Collector computer;
    MicSource mic(collected.callback());
    SystemTapSource system(computer.callback(), {getpid()});
    mic.start();
    system.start();
    std::this_thread::sleep_for(500ms);
    // A second microphone built as the first one is.
    server.pactl("load-module module-null-sink sink_name=othermicsink rate=44100 channels=1");
    // PipeWire's pulse server has no sine generator: a player feeds it.
    writeTone((files / "880.wav").string(), 880, 5);
    std::optional<Player> otherMicTone;
    if (server.isPipeWire())
        otherMicTone.emplace(server, (files / "880.wav").string(), "othermicsink");
    else
        server.pactl("load-module module-sine sink=othermicsink frequency=880");
    server.pactl("load-module module-remap-source source_name=othermic master=othermicsink.monitor");
    server.pactl("load-module module-null-sink sink_name=othersink rate=44100 channels=2");
    // Kept at a low latency as the test server's own devices are.
    server.pactl("load-module module-loopback source=othersink.monitor sink=drain latency_msec=40 source_dont_move=1 sink_dont_move=1");
    server.pactl("load-module module-loopback source=othermicsink.monitor sink=drain latency_msec=40 source_dont_move=1 sink_dont_move=1");
    server.pactl("suspend-sink othersink 1; pactl suspend-sink othersink 0");
    server.pactl("suspend-sink othermicsink 1; pactl suspend-sink othermicsink 0");
    server.pactl("set-default-source othermic");
    server.pactl("set-default-sink othersink");
    std::this_thread::sleep_for(300ms);
    collected.take();
    computer.take();
    writeTone((files / "tone.wav").string(), 1000, 3);
    Player player(server, (files / "tone.wav").string());
    std::this_thread::sleep_for(1500ms);
    mic.stop();
    system.stop();
    auto micSamples = collected.take();
    auto computerSamples = computer.take();
    EXPECT_GT(micSamples.size(), 8000u);
    EXPECT_GT(computerSamples.size(), 8000u);
    EXPECT_GT(toneAmplitude(micSamples, 880), 0.05);
    EXPECT_LT(toneAmplitude(micSamples, 440), toneAmplitude(micSamples, 880) / 20);
    EXPECT_GT(toneAmplitude(computerSamples, 1000), 0.05);
}

TEST_F(CaptureTest, SourcesStopPromptlyWhenTheServerIsGone)
{
    SystemTapSource system(collected.callback(), {getpid()});
    system.start();
    server.kill();
    std::this_thread::sleep_for(1500ms);
    auto start = std::chrono::steady_clock::now();
    system.stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
}

TEST_F(CaptureTest, MonitorStandingInForAMicrophoneIsRefused)
{
    server.pactl("set-default-source testsink.monitor");
    MicSource mic(collected.callback());
    HelperError error = errorOf([&] { mic.start(); });
    EXPECT_EQ(error.code, "unavailable");
    EXPECT_EQ(error.message, "nenhum microfone disponível");
}

TEST(CaptureWithoutServer, SourcesReportTheMissingDevice)
{
    TemporaryFolder folder;
    setenv("PULSE_SERVER", ("unix:" + (folder / "none").string()).c_str(), 1);
    Collector collected;
    MicSource mic(collected.callback());
    SystemTapSource system(collected.callback(), {getpid()});
    HelperError micError = errorOf([&] { mic.start(); });
    HelperError systemError = errorOf([&] { system.start(); });
    EXPECT_EQ(micError.code, "unavailable");
    EXPECT_EQ(micError.message, "nenhum microfone disponível");
    EXPECT_EQ(systemError.code, "unavailable");
    EXPECT_EQ(systemError.message, "sem dispositivo de saída de áudio");
}

TEST(SystemSoundMessages, StatusesAreSignedDecimals)
{
    EXPECT_EQ(tapRefusedMessage(-3),
        "não foi possível capturar o som do computador (código -3); permita em Ajustes do Sistema > "
        "Privacidade e Segurança > Gravação de Áudio do Sistema");
    EXPECT_EQ(captureDeviceFailedMessage(-17), "falha ao criar o dispositivo de captura (código -17)");
    EXPECT_EQ(captureStartFailedMessage(0), "falha ao iniciar a captura do sistema (código 0)");
}

}
