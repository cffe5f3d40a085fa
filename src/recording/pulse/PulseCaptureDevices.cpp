#include "recording/pulse/PulseCaptureDevices.h"

#include "recording/pulse/MicSource.h"
#include "recording/pulse/SystemTapSource.h"

namespace tarvio::pulse {

std::unique_ptr<CaptureSource> PulseCaptureDevices::microphone(SamplesCallback onSamples)
{
    return std::make_unique<MicSource>(std::move(onSamples));
}

std::unique_ptr<CaptureSource> PulseCaptureDevices::systemSound(SamplesCallback onSamples, std::vector<int32_t> excludePids)
{
    return std::make_unique<SystemTapSource>(std::move(onSamples), std::move(excludePids));
}

}
