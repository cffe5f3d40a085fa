#include "FakeSpeechRecognition.h"

#include <algorithm>

namespace tarvio::testing {

namespace {

class FakeRecognizer : public SpeechRecognizer {
public:
    FakeRecognizer(FakeSpeechRecognition& service, bool onDevice) : service(service), onDevice(onDevice) {}
    bool supportsOnDeviceRecognition() const override { return onDevice; }
    std::unique_ptr<RecognitionTask> recognitionTask(const RecognitionRequest& request, RecognitionHandler handler) override
    {
        return service.startTask(request, std::move(handler));
    }

private:
    FakeSpeechRecognition& service;
    bool onDevice;
};

bool contains(const std::vector<std::string>& list, const std::string& value)
{
    return std::find(list.begin(), list.end(), value) != list.end();
}

}

FakeSpeechRecognition::~FakeSpeechRecognition()
{
    for (auto& worker : workers)
        worker.join();
}

void FakeSpeechRecognition::requestAuthorization(std::function<void(SpeechAuthorizationStatus)> done)
{
    ++authorizationRequests;
    SpeechAuthorizationStatus given = answer;
    std::lock_guard guard(lock);
    // The prompt answers from another thread, as a system service does.
    workers.emplace_back([this, done = std::move(done), given] {
        status = given;
        done(given);
    });
}

std::unique_ptr<SpeechRecognizer> FakeSpeechRecognition::recognizer(const std::string& localeId)
{
    if (!contains(servedLocales, localeId))
        return nullptr;
    return std::make_unique<FakeRecognizer>(*this, contains(onDeviceLocales, localeId));
}

std::unique_ptr<RecognitionTask> FakeSpeechRecognition::startTask(const RecognitionRequest& request, RecognitionHandler handler)
{
    ++recognitions;
    lastRequest = request;
    lastFrames = request.audio ? request.audio->frameLength() : 0;
    if (request.audio)
        lastSamples.assign(request.audio->floatChannel(0), request.audio->floatChannel(0) + lastFrames);
    std::lock_guard guard(lock);
    workers.emplace_back([steps = script, handler = std::move(handler)] {
        for (const auto& step : steps)
            handler(step.result, step.error);
    });
    return std::make_unique<RecognitionTask>();
}

}
