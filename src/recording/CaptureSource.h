#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

namespace tarvio {

// One block of the recording's stream: 16 kHz, mono, 32-bit float, called on
// the source's own capture thread, in capture order. Blocks may be empty.
using SamplesCallback = std::function<void(std::span<const float> block)>;

// A running capture of one kind of sound.
class CaptureSource {
public:
    virtual ~CaptureSource() = default;

    // Returns with capture running, or throws HelperError.
    virtual void start() = 0;
    // Stops capture; no callback runs once it has returned. Safe to call twice.
    virtual void stop() = 0;
    // True while the device or the audio server is gone and the source waits
    // for it to come back (its sound is silence meanwhile). Any thread.
    virtual bool isLost() const { return false; }
};

// The audio server as the recording sees it: it makes the two kinds of
// source. The Linux implementation talks to PulseAudio (or PipeWire's pulse
// server); tests use doubles.
class CaptureDevices {
public:
    virtual ~CaptureDevices() = default;

    virtual std::unique_ptr<CaptureSource> microphone(SamplesCallback onSamples) = 0;
    // The computer's own sound, leaving out the playback of the given
    // process ids.
    virtual std::unique_ptr<CaptureSource> systemSound(SamplesCallback onSamples, std::vector<int32_t> excludePids) = 0;
    // Whether this system can capture its own sound at all.
    virtual bool systemSoundSupported() const = 0;
};

}
