#pragma once

#include "channel/Json.h"

namespace tarvio {

// "recording.selftest": a one-second 440 Hz stereo tone through the stream
// converter, a fresh mixer (with a constant second source) and a WAV writer
// on params "path". Touches no recording in progress and no device.
Json recordingSelfTest(const Json& params);

}
