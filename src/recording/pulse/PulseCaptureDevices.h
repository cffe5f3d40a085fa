#pragma once

#include "recording/CaptureSource.h"

namespace tarvio::pulse {

// The microphone and the computer's sound through the PulseAudio client
// library, which also serves PipeWire desktops.
class PulseCaptureDevices final : public CaptureDevices {
public:
    std::unique_ptr<CaptureSource> microphone(SamplesCallback onSamples) override;
    std::unique_ptr<CaptureSource> systemSound(SamplesCallback onSamples, std::vector<int32_t> excludePids) override;
    bool systemSoundSupported() const override { return true; }
};

}
