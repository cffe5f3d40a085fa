#pragma once

#include "channel/HelperError.h"
#include "recording/CaptureSource.h"

#include <atomic>
#include <optional>
#include <thread>
#include <vector>

namespace tarvio::testing {

// A source the test drives: it delivers blocks when told to, or, when
// `streamValue` is set, from a thread of its own while it runs.
class FakeSource final : public CaptureSource {
public:
    FakeSource(SamplesCallback onSamples, std::optional<HelperError> failure, std::optional<float> streamValue)
        : onSamples(std::move(onSamples)), failure(std::move(failure)), streamValue(streamValue) {}
    ~FakeSource() override { stop(); }

    void start() override;
    void stop() override;
    bool isLost() const override { return lost; }

    // Hands a block to the recording as the capture thread would.
    void deliver(std::span<const float> block) { onSamples(block); }
    bool running() const { return isRunning; }
    int stopCount() const { return stops; }

    // Set by the test: the device or server went away.
    std::atomic<bool> lost{false};

private:
    SamplesCallback onSamples;
    std::optional<HelperError> failure;
    std::optional<float> streamValue;
    std::atomic<bool> isRunning{false};
    std::jthread streamer;
    int stops = 0;
};

class FakeCaptureDevices final : public CaptureDevices {
public:
    std::unique_ptr<CaptureSource> microphone(SamplesCallback onSamples) override;
    std::unique_ptr<CaptureSource> systemSound(SamplesCallback onSamples, std::vector<int32_t> excludePids) override;
    bool systemSoundSupported() const override { return supported; }

    // Set before the recording starts.
    std::optional<HelperError> micFailure;
    std::optional<HelperError> systemFailure;
    std::optional<float> micStream;
    std::optional<float> systemStream;
    bool supported = true;

    // What the recording asked for. The sources belong to the recording.
    FakeSource* mic = nullptr;
    FakeSource* system = nullptr;
    SamplesCallback micCallback;
    std::vector<int32_t> excluded;
};

}
