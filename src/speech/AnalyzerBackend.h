#pragma once

#include "audio/PcmBuffer.h"
#include "speech/SpeechAnalysis.h"

#include <optional>
#include <string>
#include <vector>

namespace tarvio {

// What the analyzer back end gives: nothing (no service, locale or installed
// model), a text, or a failure the caller drops.
struct AnalyzerOutcome {
    enum class Kind { none, text, failure };
    Kind kind = Kind::none;
    // The text, or the failure's description.
    std::string value;

    static AnalyzerOutcome text(std::string words) { return {Kind::text, std::move(words)}; }
    static AnalyzerOutcome failure(std::string description) { return {Kind::failure, std::move(description)}; }
};

// "_" becomes "-", then lowercase.
std::string normalizedLocaleId(const std::string& localeId);

// The supported equivalent of `localeId` when its model is installed.
std::optional<std::string> installedTranscriberLocale(SpeechAnalysisService& service, const std::string& localeId);

// Runs the analysis on a task thread and waits for its outcome.
AnalyzerOutcome transcribeWithSpeechTranscriber(SpeechAnalysisService& service, const audio::PcmBuffer& buffer,
    const std::string& localeId, const std::vector<std::string>& vocabulary);

}
