#include "speech/SpeechMethods.h"

#include "channel/Params.h"
#include "speech/AnalyzerBackend.h"
#include "speech/AudioPayload.h"
#include "speech/RecognizerBackend.h"

#include <semaphore>
#include <thread>
#include <utf8proc.h>

namespace tarvio {

namespace {

// Horizontal whitespace only: tabs and the space separators, not line breaks.
bool isBlank(const std::string& text)
{
    auto bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
    for (size_t offset = 0; offset < text.size();) {
        utf8proc_int32_t codepoint = 0;
        auto length = utf8proc_iterate(bytes + offset, static_cast<utf8proc_ssize_t>(text.size() - offset), &codepoint);
        if (length <= 0)
            return false;
        if (codepoint != '\t' && utf8proc_category(codepoint) != UTF8PROC_CATEGORY_ZS)
            return false;
        offset += static_cast<size_t>(length);
    }
    return true;
}

std::string localeParam(const Json& params) { return stringParam(params, "locale").value_or("pt-BR"); }

// The model check runs on a task thread, as the service expects.
bool analyzerModelInstalled(SpeechAnalysisService& analysis, const std::string& localeId)
{
    struct Slot {
        bool installed = false;
        std::counting_semaphore<> signalled{0};
    };
    auto slot = std::make_shared<Slot>();
    std::thread task([&analysis, &localeId, slot] {
        try {
            slot->installed = installedTranscriberLocale(analysis, localeId).has_value();
        } catch (...) {
            slot->installed = false;
        }
        slot->signalled.release();
    });
    slot->signalled.acquire();
    task.join();
    return slot->installed;
}

}

std::vector<std::string> readVocabulary(const Json& params)
{
    auto list = stringListParam(params, "vocabulary");
    if (!list)
        return {};
    std::vector<std::string> vocabulary;
    for (auto& entry : *list) {
        if (!isBlank(entry))
            vocabulary.push_back(std::move(entry));
    }
    return vocabulary;
}

Json speechTranscribe(SpeechServices services, const Json& params)
{
    AudioPayload payload = decodeAudioPayload(params);
    std::string localeId = localeParam(params);
    std::vector<std::string> vocabulary = readVocabulary(params);
    auto buffer = makePcmFloatBuffer(payload.samples, payload.sampleRate);
    // The samples live on in the buffer.
    payload.samples = {};

    if (services.analysis.systemSupportsAnalyzer()) {
        AnalyzerOutcome outcome = transcribeWithSpeechTranscriber(services.analysis, *buffer, localeId, vocabulary);
        if (outcome.kind == AnalyzerOutcome::Kind::text)
            return {{"text", outcome.value}, {"backend", "speech_transcriber"}};
    }
    std::string text = transcribeWithSFSpeechRecognizer(services.recognition, *buffer, localeId, vocabulary);
    return {{"text", text}, {"backend", "sf_speech_recognizer"}};
}

Json speechStatus(SpeechServices services, const Json& params)
{
    std::string localeId = localeParam(params);
    if (services.analysis.systemSupportsAnalyzer() && services.analysis.isAvailable()
        && analyzerModelInstalled(services.analysis, localeId))
        return {{"available", true}, {"backend", "speech_transcriber"}, {"authorization", "authorized"}};

    SpeechAuthorizationStatus status = services.recognition.authorizationStatus();
    auto recognizer = services.recognition.recognizer(localeId);
    bool onDevice = recognizer && recognizer->supportsOnDeviceRecognition();
    return {
        {"available", onDevice && (status == 3 || status == 0)},
        {"backend", onDevice ? "sf_speech_recognizer" : "unavailable"},
        {"authorization", speechAuthorizationName(status)},
    };
}

void addSpeechMethods(Dispatcher& dispatcher, SpeechAnalysisService& analysis, SpeechRecognitionService& recognition)
{
    SpeechServices services{analysis, recognition};
    dispatcher.add("speech.transcribe", [services](const Json& params) { return speechTranscribe(services, params); });
    dispatcher.add("speech.status", [services](const Json& params) { return speechStatus(services, params); });
}

}
