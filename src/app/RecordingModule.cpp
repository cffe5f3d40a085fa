// The recording methods as a module of their own, loaded on the first
// recording request, so that the audio client's libraries cost nothing
// until then.

#include "recording/RecordingMethods.h"
#include "recording/RecordingSession.h"
#include "recording/pulse/LinuxMicrophoneAccess.h"
#include "recording/pulse/PulseCaptureDevices.h"

#include <csignal>

extern "C" __attribute__((visibility("default"))) void tarvioAddMethods(tarvio::Dispatcher& dispatcher)
{
    using namespace tarvio;
    static pulse::PulseCaptureDevices devices;
    static pulse::LinuxMicrophoneAccess access;
    // A file-size limit makes writes fail (and the status say so) instead of
    // ending the process.
    std::signal(SIGXFSZ, SIG_IGN);
    addRecordingMethods(dispatcher, devices, access);
}

// The host went away or the session ends: the file of a recording in
// progress gets its last samples and a header that covers them.
extern "C" __attribute__((visibility("default"))) void tarvioAtExit()
{
    tarvio::RecordingSession::finishAllForExit();
}
