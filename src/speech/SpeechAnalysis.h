#pragma once

#include "audio/AudioFormat.h"
#include "audio/PcmBuffer.h"

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <stop_token>
#include <string>
#include <vector>

namespace tarvio {

// The newer speech-analysis service behind the analyzer back end: a
// transcriber module for one installed locale, run by an analyzer over a
// stream of audio input.

// A failure inside the service; its what() is the description.
class AnalysisError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Words the analysis should expect, by tag; only "general" is used.
struct AnalysisContext {
    std::optional<std::vector<std::string>> generalContextualStrings;
};

struct TranscriptionResult {
    std::string text;
    bool isFinal = false;
};

// Unbounded buffered stream of input buffers: the producer yields, then
// finishes; the analyzer reads until the end.
class AnalyzerInputStream {
public:
    void yield(std::shared_ptr<const audio::PcmBuffer> buffer);
    void finish();
    // The next buffer, or none once the stream is finished and drained.
    std::shared_ptr<const audio::PcmBuffer> next();

private:
    std::mutex lock;
    std::condition_variable changed;
    std::deque<std::shared_ptr<const audio::PcmBuffer>> pending;
    bool finished = false;
};

// One transcriber module and the analyzer that runs it.
class SpeechAnalysisSession {
public:
    virtual ~SpeechAnalysisSession() = default;
    // The format the analyzer wants for input of `bufferFormat`, or none.
    virtual std::optional<audio::AudioFormat> bestAvailableAudioFormat(const audio::AudioFormat& bufferFormat) = 0;
    // Makes the analyzer; it starts reading `input` by itself.
    virtual void startAnalyzer(std::shared_ptr<AnalyzerInputStream> input, const AnalysisContext& context) = 0;
    // Returns once all input has been analyzed and the results have ended;
    // throws AnalysisError.
    virtual void finalizeAndFinishThroughEndOfInput() = 0;
    // The transcriber's next result, none at the end of the results; throws
    // AnalysisError, and throws it too once `stop` is requested.
    virtual std::optional<TranscriptionResult> nextResult(std::stop_token stop) = 0;
};

class SpeechAnalysisService {
public:
    virtual ~SpeechAnalysisService() = default;
    // Whether the operating system has this service at all.
    virtual bool systemSupportsAnalyzer() = 0;
    // Whether transcription can run on this machine.
    virtual bool isAvailable() = 0;
    // The supported locale equivalent to `localeId`, or none.
    virtual std::optional<std::string> supportedLocale(const std::string& localeId) = 0;
    // Identifiers of the locales whose models are installed.
    virtual std::vector<std::string> installedLocales() = 0;
    // A transcriber for `locale` with the "transcription" preset.
    virtual std::unique_ptr<SpeechAnalysisSession> makeSession(const std::string& locale) = 0;
};

// No speech-analysis service exists on this platform.
class UnavailableSpeechAnalysis : public SpeechAnalysisService {
public:
    bool systemSupportsAnalyzer() override { return false; }
    bool isAvailable() override { return false; }
    std::optional<std::string> supportedLocale(const std::string&) override { return std::nullopt; }
    std::vector<std::string> installedLocales() override { return {}; }
    std::unique_ptr<SpeechAnalysisSession> makeSession(const std::string&) override { return nullptr; }
};

}
