#pragma once

#include "recording/CaptureSource.h"
#include "recording/pulse/ReopeningCapture.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tarvio::pulse {

// The sound the computer plays. While no excluded process is playing it
// captures the monitor of the default output device; otherwise it captures
// every playback stream of the other processes on its own and sums them,
// following streams as they start and end.
class SystemTapSource final : public CaptureSource {
public:
    SystemTapSource(SamplesCallback onSamples, std::vector<int32_t> excludePids);
    ~SystemTapSource() override { stop(); }

    void start() override;
    void stop() override { capture.stop(); }
    bool isLost() const override { return capture.isLost(); }

    static constexpr uint32_t fragmentFrames = 2048;

private:
    SamplesCallback onSamples;
    std::vector<int32_t> excludePids;
    ReopeningCapture capture;
};

// The messages of a failed start, shared with tests.
std::string tapRefusedMessage(int status);
std::string captureDeviceFailedMessage(int status);
std::string captureStartFailedMessage(int status);

}
