#pragma once

#include "speech/SpeechRecognition.h"

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace tarvio::testing {

// One call of the recognition callback.
struct ScriptedCallback {
    std::optional<RecognitionResult> result;
    std::optional<std::string> error;
};

// A recognition service that answers from a script, on a thread of its own.
class FakeSpeechRecognition : public SpeechRecognitionService {
public:
    SpeechAuthorizationStatus status = 3;
    // What the user answers when asked.
    SpeechAuthorizationStatus answer = 3;
    // Locales with a recognizer, and those of them with on-device support.
    std::vector<std::string> servedLocales = {"en-US"};
    std::vector<std::string> onDeviceLocales = {"en-US"};
    std::vector<ScriptedCallback> script = {{RecognitionResult{"ok", true}, std::nullopt}};

    // What the service saw.
    std::atomic<int> authorizationRequests = 0;
    std::atomic<int> recognitions = 0;
    RecognitionRequest lastRequest;
    uint32_t lastFrames = 0;
    std::vector<float> lastSamples;

    ~FakeSpeechRecognition() override;

    SpeechAuthorizationStatus authorizationStatus() override { return status; }
    void requestAuthorization(std::function<void(SpeechAuthorizationStatus)> done) override;
    std::unique_ptr<SpeechRecognizer> recognizer(const std::string& localeId) override;

    // Runs the script on a worker thread; used by the fake recognizer.
    std::unique_ptr<RecognitionTask> startTask(const RecognitionRequest& request, RecognitionHandler handler);

private:
    std::mutex lock;
    std::vector<std::thread> workers;
};

}
