#pragma once

#include "speech/SpeechAnalysis.h"
#include "speech/whisper/ModelShelf.h"
#include "speech/whisper/WhisperModel.h"

#include <filesystem>
#include <memory>
#include <mutex>

namespace tarvio::whisper {

// The analysis service on our own Whisper engine. A locale is served when
// an installed model knows its language ("pt-BR" and "pt_PT" are "pt");
// the model last used stays loaded.
class WhisperAnalysis : public SpeechAnalysisService {
public:
    explicit WhisperAnalysis(std::vector<std::filesystem::path> folders = standardModelFolders());

    bool systemSupportsAnalyzer() override { return true; }
    bool isAvailable() override { return true; }
    std::optional<std::string> supportedLocale(const std::string& localeId) override;
    std::vector<std::string> installedLocales() override;
    std::unique_ptr<SpeechAnalysisSession> makeSession(const std::string& locale) override;

    // The model for `language`, loaded once; none when no usable one exists.
    std::shared_ptr<const WhisperModel> modelFor(const std::string& language);

private:
    std::vector<std::filesystem::path> folders;
    std::mutex lock;
    std::filesystem::path loadedPath;
    std::shared_ptr<const WhisperModel> loaded;
};

}
