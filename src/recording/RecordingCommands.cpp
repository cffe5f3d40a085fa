#include "recording/RecordingCommands.h"

#include "channel/HelperError.h"
#include "channel/Params.h"

#include <cmath>
#include <unistd.h>

namespace tarvio {

namespace {

int64_t millisecondsOf(int64_t samples)
{
    return samples * 1000 / RecordingSession::sampleRate;
}

}

bool requestMicAccess(MicrophoneAccess& access)
{
    int status = access.status();
    if (status == MicrophoneAccess::authorized)
        return true;
    if (status != MicrophoneAccess::notDetermined)
        return false;
    return access.ask();
}

const char* micStatusName(int status)
{
    switch (status) {
    case 0: return "notDetermined";
    case 1: return "restricted";
    case 2: return "denied";
    case 3: return "authorized";
    default: return "unknown";
    }
}

std::vector<int32_t> processIdsOf(const Json* list)
{
    std::vector<int32_t> ids;
    if (!list || !list->is_array())
        return ids;
    for (const Json& element : *list) {
        std::optional<double> value = asNumericOrBoolean(&element);
        if (!value)
            continue;
        // Beyond 32 bits the low 32 bits are kept, as a 32-bit integer
        // reading of a number does; no process has such an id anyway.
        double whole = std::trunc(*value);
        int64_t wide = whole >= 9.2e18 ? INT64_MAX : whole <= -9.2e18 ? INT64_MIN : static_cast<int64_t>(whole);
        ids.push_back(static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(wide))));
    }
    return ids;
}

std::string recordingPath(const Json& params)
{
    std::optional<std::string> path = stringParam(params, "path");
    if (!path || path->empty())
        throw invalidParams("path é obrigatório");
    // The file system would read the path only up to the NUL: another file.
    if (path->find('\0') != std::string::npos)
        throw invalidParams("path não pode conter o caractere NUL");
    return *path;
}

RecordingCommands::RecordingCommands(CaptureDevices& devices, MicrophoneAccess& access, std::shared_ptr<Clock> clock)
    : devices(devices), access(access), clock(std::move(clock))
{
}

Json RecordingCommands::recordingPermission(const Json&)
{
    bool supported = devices.systemSoundSupported();
    return {
        {"mic", micStatusName(access.status())},
        {"system", supported ? "unknown" : "unsupported"},
        {"systemSupported", supported},
    };
}

Json RecordingCommands::recordingStart(const Json& params)
{
    if (currentRecording)
        throw invalidParams("já existe uma gravação em andamento");
    std::string path = recordingPath(params);
    std::string sources = stringParam(params, "sources").value_or("both");
    if (sources != "both" && sources != "system" && sources != "mic")
        throw invalidParams("sources deve ser both, system ou mic");

    const bool wantsMic = sources != "system";
    if (wantsMic && !requestMicAccess(access) && sources == "mic")
        throw permissionDenied(
            "sem permissão de microfone; permita em Ajustes do Sistema > Privacidade e Segurança > Microfone");
    std::vector<int32_t> excludePids = processIdsOf(listParam(params, "excludePids"));

    const bool usesMic = wantsMic && access.status() == MicrophoneAccess::authorized;
    const bool usesSystem = sources != "mic";
    auto recording = RecordingSession::create(path, usesSystem, usesMic, devices, clock);
    if (wantsMic && !usesMic)
        recording->addWarning("mic_denied");

    // The helper never records its own sound.
    std::vector<int32_t> exclusion {static_cast<int32_t>(::getpid())};
    exclusion.insert(exclusion.end(), excludePids.begin(), excludePids.end());
    recording->start(exclusion);

    currentRecording = recording;
    return {
        {"id", recording->id()},
        {"sources", {{"system", recording->hasSystemSource()}, {"mic", recording->hasMic()}}},
        {"warnings", recording->warnings()},
    };
}

RecordingSession& RecordingCommands::requireRecording()
{
    if (!currentRecording)
        throw notFound("nenhuma gravação em andamento");
    return *currentRecording;
}

Json RecordingCommands::recordingPause(const Json& params)
{
    requireRecording().pause();
    return recordingStatus(params);
}

Json RecordingCommands::recordingResume(const Json& params)
{
    requireRecording().resume();
    return recordingStatus(params);
}

Json RecordingCommands::recordingStatus(const Json&)
{
    if (!currentRecording)
        return {{"state", "idle"}, {"durationMs", 0}, {"levels", {{"system", 0}, {"mic", 0}}}};
    auto levels = currentRecording->levels();
    bool paused = currentRecording->isPaused();
    int64_t durationMs = currentRecording->durationMs();
    RecordingSession::WriteState writing = currentRecording->writeState();
    return {
        {"state", paused ? "paused" : "recording"},
        {"durationMs", durationMs},
        {"levels",
            {{"system", static_cast<double>(levels[RecordingSession::systemSourceIndex])},
                {"mic", static_cast<double>(levels[RecordingSession::micSourceIndex])}}},
        {"sources", {{"system", currentRecording->hasSystemSource()}, {"mic", currentRecording->hasMic()}}},
        // A source that started and is gone now (server stopped, device
        // removed) records silence until it comes back.
        {"lostSources", {{"system", currentRecording->systemSourceLost()}, {"mic", currentRecording->micLost()}}},
        {"writeFailing", writing.failing},
        {"writeError", writing.failing ? Json(writing.error) : Json(nullptr)},
        {"lostMs", millisecondsOf(writing.lostSamples)},
    };
}

Json RecordingCommands::recordingStop(const Json&)
{
    RecordingSession& recording = requireRecording();
    int64_t durationMs = recording.stop();
    std::string path = recording.path();
    int64_t lostMs = millisecondsOf(recording.writeState().lostSamples);
    currentRecording.reset();
    // "lostMs": audio that could not be written, silence in the file.
    return {{"durationMs", durationMs}, {"path", path}, {"lostMs", lostMs}};
}

}
