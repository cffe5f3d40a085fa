#pragma once

#include "recording/CaptureSource.h"
#include "recording/pulse/ReopeningCapture.h"

namespace tarvio::pulse {

// The default input device, captured in its own rate and channel count and
// converted to the recording's stream, in blocks of about 4096 frames.
class MicSource final : public CaptureSource {
public:
    explicit MicSource(SamplesCallback onSamples);
    ~MicSource() override { stop(); }

    void start() override;
    void stop() override { capture.stop(); }
    bool isLost() const override { return capture.isLost(); }

    static constexpr uint32_t fragmentFrames = 4096;

private:
    SamplesCallback onSamples;
    ReopeningCapture capture;
};

}
