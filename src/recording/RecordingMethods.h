#pragma once

#include "channel/Dispatcher.h"
#include "recording/CaptureSource.h"
#include "recording/MicrophoneAccess.h"

namespace tarvio {

// The recording methods, recording through `devices`; both must outlive the
// dispatcher.
void addRecordingMethods(Dispatcher& dispatcher, CaptureDevices& devices, MicrophoneAccess& access);

}
