#pragma once

#include "speech/SpeechAnalysis.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>

namespace tarvio::testing {

// An analysis service whose sessions produce scripted results. The
// analyzer reads its input and publishes the results when finalized; the
// results are consumed by the back end's child meanwhile.
class FakeSpeechAnalysis : public SpeechAnalysisService {
public:
    bool systemSupported = true;
    bool available = true;
    // Requested identifier -> supported locale; missing means none.
    std::vector<std::pair<std::string, std::string>> supported = {{"pt-BR", "pt_BR"}};
    std::vector<std::string> installed = {"PT_br"};
    // The analyzer's preferred format; none means it names none.
    std::optional<audio::AudioFormat> bestFormat = audio::AudioFormat::makeFloat(16000, 1);
    std::vector<TranscriptionResult> results = {{"olá", true}};
    std::optional<std::string> finalizeError;
    std::optional<std::string> resultsError;

    // What the service saw.
    std::string sessionLocale;
    std::optional<AnalysisContext> context;
    std::vector<double> inputRates;
    std::vector<uint32_t> inputFrames;
    std::vector<const audio::PcmBuffer*> inputBuffers;
    std::atomic<bool> childCancelled = false;
    std::atomic<int> sessions = 0;

    bool systemSupportsAnalyzer() override { return systemSupported; }
    bool isAvailable() override { return available; }
    std::optional<std::string> supportedLocale(const std::string& localeId) override;
    std::vector<std::string> installedLocales() override { return installed; }
    std::unique_ptr<SpeechAnalysisSession> makeSession(const std::string& locale) override;
};

}
