#include "speech/whisper/WhisperAnalysis.h"

#include "speech/whisper/Transcriber.h"
#include "speech/whisper/Vocabulary.h"

#include <algorithm>
#include <condition_variable>
#include <set>
#include <utility>

namespace tarvio::whisper {

namespace {

class WhisperSession : public SpeechAnalysisSession {
public:
    WhisperSession(std::shared_ptr<const WhisperModel> model, std::string language)
        : model(std::move(model)), language(std::move(language))
    {
    }

    std::optional<audio::AudioFormat> bestAvailableAudioFormat(const audio::AudioFormat&) override
    {
        return audio::AudioFormat::makeFloat(sampleRate, 1);
    }

    void startAnalyzer(std::shared_ptr<AnalyzerInputStream> stream, const AnalysisContext& context) override
    {
        input = std::move(stream);
        if (context.generalContextualStrings) {
            for (const auto& entry : *context.generalContextualStrings)
                prompt += (prompt.empty() ? "" : ", ") + entry;
        }
    }

    void finalizeAndFinishThroughEndOfInput() override
    {
        std::vector<float> samples;
        while (auto buffer = input->next()) {
            const float* channel = buffer->floatChannel(0);
            if (!channel || buffer->format().sampleRate() != sampleRate)
                throw AnalysisError("formato de áudio inesperado");
            samples.insert(samples.end(), channel, channel + buffer->frameLength());
        }
        DecodingOptions options;
        options.language = language;
        options.prompt = prompt;
        std::string text;
        try {
            text = transcribeSamples(*model, samples, options);
        } catch (const std::exception& error) {
            throw AnalysisError(error.what());
        }
        std::lock_guard guard(lock);
        result = TranscriptionResult{std::move(text), true};
        ended = true;
        changed.notify_all();
    }

    std::optional<TranscriptionResult> nextResult(std::stop_token stop) override
    {
        std::unique_lock guard(lock);
        changed.wait(guard, stop, [this] { return ended; });
        if (stop.stop_requested())
            throw AnalysisError("transcrição cancelada");
        return std::exchange(result, std::nullopt);
    }

private:
    std::shared_ptr<const WhisperModel> model;
    std::string language;
    std::string prompt;
    std::shared_ptr<AnalyzerInputStream> input;
    std::mutex lock;
    std::condition_variable_any changed;
    std::optional<TranscriptionResult> result;
    bool ended = false;
};

}

WhisperAnalysis::WhisperAnalysis(std::vector<std::filesystem::path> folders) : folders(std::move(folders)) {}

std::optional<std::string> WhisperAnalysis::supportedLocale(const std::string& localeId)
{
    std::string normalized;
    for (char character : localeId)
        normalized += character == '_' ? '-' : static_cast<char>(std::tolower(static_cast<unsigned char>(character)));
    std::string language = normalized.substr(0, normalized.find('-'));
    const auto& codes = languageCodes();
    if (std::find(codes.begin(), codes.end(), language) == codes.end())
        return std::nullopt;
    return language;
}

std::vector<std::string> WhisperAnalysis::installedLocales()
{
    std::set<std::string> seen;
    std::vector<std::string> locales;
    for (const auto& model : findInstalledModels(folders)) {
        for (const auto& language : model.languages) {
            if (seen.insert(language).second)
                locales.push_back(language);
        }
    }
    return locales;
}

std::shared_ptr<const WhisperModel> WhisperAnalysis::modelFor(const std::string& language)
{
    auto chosen = pickModel(findInstalledModels(folders), language);
    if (!chosen)
        return nullptr;
    std::lock_guard guard(lock);
    if (loaded && loadedPath == chosen->path)
        return loaded;
    // Drop the old weights before the new ones arrive.
    loaded.reset();
    try {
        loaded = WhisperModel::load(GgmlFile::open(chosen->path));
        loadedPath = chosen->path;
    } catch (const ModelFileError&) {
        return nullptr;
    }
    return loaded;
}

std::unique_ptr<SpeechAnalysisSession> WhisperAnalysis::makeSession(const std::string& locale)
{
    auto model = modelFor(locale);
    if (!model)
        return nullptr;
    return std::make_unique<WhisperSession>(std::move(model), locale);
}

}
