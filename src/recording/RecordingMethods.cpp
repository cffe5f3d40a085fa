#include "recording/RecordingMethods.h"

#include "recording/RecordingCommands.h"
#include "recording/RecordingSelfTest.h"

#include <memory>

namespace tarvio {

void addRecordingMethods(Dispatcher& dispatcher, CaptureDevices& devices, MicrophoneAccess& access)
{
    auto commands = std::make_shared<RecordingCommands>(devices, access);
    auto bind = [commands](Json (RecordingCommands::*method)(const Json&)) {
        return [commands, method](const Json& params) { return ((*commands).*method)(params); };
    };
    dispatcher.add("recording.permission", bind(&RecordingCommands::recordingPermission));
    dispatcher.add("recording.start", bind(&RecordingCommands::recordingStart));
    dispatcher.add("recording.pause", bind(&RecordingCommands::recordingPause));
    dispatcher.add("recording.resume", bind(&RecordingCommands::recordingResume));
    dispatcher.add("recording.stop", bind(&RecordingCommands::recordingStop));
    dispatcher.add("recording.status", bind(&RecordingCommands::recordingStatus));
    dispatcher.add("recording.selftest", recordingSelfTest);
}

}
