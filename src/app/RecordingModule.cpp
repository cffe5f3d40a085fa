// The recording methods as a module of their own, loaded on the first
// recording request, so that the audio client's libraries cost nothing
// until then.

#include "recording/RecordingMethods.h"
#include "recording/pulse/LinuxMicrophoneAccess.h"
#include "recording/pulse/PulseCaptureDevices.h"

extern "C" __attribute__((visibility("default"))) void tarvioAddMethods(tarvio::Dispatcher& dispatcher)
{
    using namespace tarvio;
    static pulse::PulseCaptureDevices devices;
    static pulse::LinuxMicrophoneAccess access;
    addRecordingMethods(dispatcher, devices, access);
}
