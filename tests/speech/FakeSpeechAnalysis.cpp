#include "FakeSpeechAnalysis.h"

namespace tarvio::testing {

namespace {

class FakeSession : public SpeechAnalysisSession {
public:
    explicit FakeSession(FakeSpeechAnalysis& service) : service(service) {}

    std::optional<audio::AudioFormat> bestAvailableAudioFormat(const audio::AudioFormat&) override
    {
        return service.bestFormat;
    }

    void startAnalyzer(std::shared_ptr<AnalyzerInputStream> stream, const AnalysisContext& context) override
    {
        input = std::move(stream);
        service.context = context;
    }

    void finalizeAndFinishThroughEndOfInput() override
    {
        while (auto buffer = input->next()) {
            service.inputRates.push_back(buffer->format().sampleRate());
            service.inputFrames.push_back(buffer->frameLength());
            service.inputBuffers.push_back(buffer.get());
        }
        if (service.finalizeError)
            throw AnalysisError(*service.finalizeError);
        std::lock_guard guard(lock);
        for (const auto& result : service.results)
            pending.push_back(result);
        ended = true;
        changed.notify_all();
    }

    std::optional<TranscriptionResult> nextResult(std::stop_token stop) override
    {
        std::unique_lock guard(lock);
        changed.wait(guard, stop, [this] { return ended || !pending.empty(); });
        if (stop.stop_requested()) {
            service.childCancelled = true;
            throw AnalysisError("cancelado");
        }
        if (!pending.empty()) {
            auto result = pending.front();
            pending.pop_front();
            return result;
        }
        if (service.resultsError)
            throw AnalysisError(*service.resultsError);
        return std::nullopt;
    }

private:
    FakeSpeechAnalysis& service;
    std::shared_ptr<AnalyzerInputStream> input;
    std::mutex lock;
    std::condition_variable_any changed;
    std::deque<TranscriptionResult> pending;
    bool ended = false;
};

}

std::optional<std::string> FakeSpeechAnalysis::supportedLocale(const std::string& localeId)
{
    for (const auto& [requested, locale] : supported) {
        if (requested == localeId)
            return locale;
    }
    return std::nullopt;
}

std::unique_ptr<SpeechAnalysisSession> FakeSpeechAnalysis::makeSession(const std::string& locale)
{
    ++sessions;
    sessionLocale = locale;
    return std::make_unique<FakeSession>(*this);
}

}
