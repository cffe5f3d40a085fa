#pragma once

#include "audio/PcmBuffer.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tarvio {

// The speech-recognition service behind the recognizer back end: its
// permission, a recognizer per locale, and recognition tasks that report
// through a callback on a thread of their own.

// 0 not asked yet, 1 refused, 2 forbidden by the system, 3 allowed.
using SpeechAuthorizationStatus = int;

struct RecognitionRequest {
    bool requiresOnDeviceRecognition = true;
    bool shouldReportPartialResults = false;
    // None unless the caller set them.
    std::optional<std::vector<std::string>> contextualStrings;
    // The whole utterance, appended once; the audio is then ended.
    const audio::PcmBuffer* audio = nullptr;
    bool audioEnded = false;
};

struct RecognitionResult {
    std::string formattedString;
    bool isFinal = false;
};

// Called with a result, an error description, both or neither, until a
// final result or an error has been reported.
using RecognitionHandler = std::function<void(const std::optional<RecognitionResult>& result,
    const std::optional<std::string>& error)>;

// A running recognition; released when the caller is done with it.
class RecognitionTask {
public:
    virtual ~RecognitionTask() = default;
};

class SpeechRecognizer {
public:
    virtual ~SpeechRecognizer() = default;
    virtual bool supportsOnDeviceRecognition() const = 0;
    // The request is complete when this is called; the handler may run on
    // another thread, also after the task has been released.
    virtual std::unique_ptr<RecognitionTask> recognitionTask(const RecognitionRequest& request,
        RecognitionHandler handler) = 0;
};

class SpeechRecognitionService {
public:
    virtual ~SpeechRecognitionService() = default;
    // At once, without asking the user.
    virtual SpeechAuthorizationStatus authorizationStatus() = 0;
    // Asks the user if needed and calls `done` exactly once, possibly on
    // another thread.
    virtual void requestAuthorization(std::function<void(SpeechAuthorizationStatus)> done) = 0;
    // None when the locale is not served.
    virtual std::unique_ptr<SpeechRecognizer> recognizer(const std::string& localeId) = 0;
};

}
