#include "recording/FakeCaptureDevices.h"

namespace tarvio::testing {

void FakeSource::start()
{
    if (failure)
        throw *failure;
    isRunning = true;
    if (!streamValue)
        return;
    streamer = std::jthread([this, value = *streamValue](std::stop_token stop) {
        std::vector<float> block(160, value);
        while (!stop.stop_requested()) {
            onSamples(block);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
}

void FakeSource::stop()
{
    if (streamer.joinable()) {
        streamer.request_stop();
        streamer.join();
    }
    if (isRunning)
        ++stops;
    isRunning = false;
}

std::unique_ptr<CaptureSource> FakeCaptureDevices::microphone(SamplesCallback onSamples)
{
    micCallback = onSamples;
    auto source = std::make_unique<FakeSource>(std::move(onSamples), micFailure, micStream);
    mic = source.get();
    return source;
}

std::unique_ptr<CaptureSource> FakeCaptureDevices::systemSound(SamplesCallback onSamples, std::vector<int32_t> excludePids)
{
    excluded = std::move(excludePids);
    auto source = std::make_unique<FakeSource>(std::move(onSamples), systemFailure, systemStream);
    system = source.get();
    return source;
}

}
