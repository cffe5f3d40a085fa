#pragma once

#include "channel/Json.h"
#include "recording/CaptureSource.h"
#include "recording/Clock.h"
#include "recording/MicrophoneAccess.h"
#include "recording/RecordingSession.h"

#include <memory>

namespace tarvio {

// The requests that record a meeting: they keep the one recording in
// progress and translate between parameters and the session. All run on the
// request thread.
class RecordingCommands {
public:
    RecordingCommands(CaptureDevices& devices, MicrophoneAccess& access, std::shared_ptr<Clock> clock = systemClock());

    Json recordingPermission(const Json& params);
    Json recordingStart(const Json& params);
    Json recordingPause(const Json& params);
    Json recordingResume(const Json& params);
    Json recordingStatus(const Json& params);
    Json recordingStop(const Json& params);

private:
    RecordingSession& requireRecording();

    CaptureDevices& devices;
    MicrophoneAccess& access;
    std::shared_ptr<Clock> clock;
    std::shared_ptr<RecordingSession> currentRecording;
};

// The process ids of an "excludePids" value: numbers and booleans, their
// fractions cut; everything else skipped.
std::vector<int32_t> processIdsOf(const Json* list);

const char* micStatusName(int status);

// The "path" of a recording or self-test: required, not empty, without NUL.
std::string recordingPath(const Json& params);

}
